// Test main for libraries with widgets: a QApplication on the offscreen
// platform, so widget tests run without a display.
#include <gtest/gtest.h>

#include <QApplication>

#include "testing/TestHome.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const vn::testing::TestProcessHome home;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
