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
target_compile_options(vn_common_cfg INTERFACE ${VN_WARNING_FLAGS})
target_compile_definitions(vn_common_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH)
# Every layer's headers are included by their folder name: "platform/registry/Registry.h".
target_include_directories(vn_common_cfg INTERFACE ${PROJECT_SOURCE_DIR})

# vn_add_test(NAME LABEL [WIDGETS] SOURCES ... LIBRARIES ...): one GoogleTest binary
# per library, registered with CTest under the library's label. WIDGETS gives the
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
  include(GoogleTest)
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${label}
    DISCOVERY_TIMEOUT 60)
endfunction()
