# The warnings our own code compiles with. Warnings stop the build only where
# VN_WERROR is on (the presets, hence developers and CI); a plain configure, as a
# packager's with another compiler or a newer GCC, reports new warnings and goes on.
set(VN_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(VN_WERROR)
  list(APPEND VN_WARNING_FLAGS -Werror)
endif()

# One interface target carries the settings every Vornal target compiles with.
add_library(vn_common_cfg INTERFACE)
target_compile_features(vn_common_cfg INTERFACE cxx_std_20)
# -pthread everywhere, as gRPC's users get it anyway: every target then sees the
# same predefined macros, which a shared precompiled header needs.
target_compile_options(vn_common_cfg INTERFACE -pthread ${VN_WARNING_FLAGS})
target_compile_definitions(vn_common_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH)
# Every layer's headers are included by their folder name: "platform/registry/Registry.h".
target_include_directories(vn_common_cfg INTERFACE ${PROJECT_SOURCE_DIR})

# vn_add_test(NAME LABELS [WIDGETS] SOURCES ... LIBRARIES ...): one GoogleTest binary
# per library, registered with CTest under the library's label (or labels). WIDGETS gives the
# binary a QApplication on the offscreen platform.
function(vn_add_test name label)
  cmake_parse_arguments(T "WIDGETS" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_WIDGETS)
    set(main vn_testmain_widgets)
  else()
    set(main vn_testmain_core)
  endif()
  target_link_libraries(${name} PRIVATE vn_common_cfg vn_testing ${main} GTest::gtest GTest::gmock ${T_LIBRARIES})
  vn_test_precompile_headers(${name})
  include(GoogleTest)
  list(GET label 0 first_label)
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${first_label}
    DISCOVERY_TIMEOUT 60)
  # A discovered test takes one label through PROPERTIES; a list of labels
  # ("run;results") is set by a script that CTest runs after the discovered
  # tests' own.
  list(LENGTH label label_count)
  if(label_count GREATER 1)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${script} "set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${label}\")\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# The test binaries share one precompiled header: GoogleTest, the Qt and standard
# headers that most tests include, parsed once instead of once per test source.
# (Measured: it saves about an eighth of the tests' compile time; for the
# libraries, whose time goes into optimisation rather than parsing, a header
# of their own cost more than it saved.) GCC takes a precompiled header only
# where the macros it was made with are defined alike, so it is made by a
# target of its own, vn_test_pch, with only the settings every test binary
# has. The debug preset builds without it (CMAKE_DISABLE_PRECOMPILE_HEADERS),
# so a test that forgets an include still fails to compile there.
set(VN_PCH_TESTS
  <algorithm> <chrono> <cstring> <filesystem> <fstream> <functional> <map> <memory>
  <mutex> <optional> <string> <string_view> <thread> <utility> <vector>
  <gtest/gtest.h> <QCoreApplication> <QString> <QTemporaryDir>)

function(vn_test_precompile_headers name)
  if(NOT TARGET vn_test_pch)
    add_executable(vn_test_pch ${PROJECT_SOURCE_DIR}/testing/TestPch.cpp)
    target_link_libraries(vn_test_pch PRIVATE vn_common_cfg Qt6::Core GTest::gtest GTest::gmock)
    target_precompile_headers(vn_test_pch PRIVATE ${VN_PCH_TESTS})
  endif()
  target_precompile_headers(${name} REUSE_FROM vn_test_pch)
endfunction()
