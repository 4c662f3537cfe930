// Test main for libraries without widgets: a QCoreApplication for Qt's event
// loop and settings, then every test.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "testing/TestHome.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const vn::testing::TestProcessHome home;
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
