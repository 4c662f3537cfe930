add_library(vnconsolecore STATIC
  support/Resources.h support/Resources.cpp
  support/SystemErrorText.h support/SystemErrorText.cpp
  reports/ReportCatalogue.h reports/ReportCatalogue.cpp
  reports/ReportSet.h reports/ReportSet.cpp
  reports/ReportSetStore.h reports/ReportSetStore.cpp
  objects/KSItemType.h
  objects/BackgroundWork.h objects/BackgroundWork.cpp
  objects/ObjectTree.h objects/ObjectTree.cpp
  objects/SelectedObjects.h objects/SelectedObjects.cpp
  objects/ObjectEnumeration.h objects/ObjectEnumeration.cpp
  objects/ObjectTreeLoader.h objects/ObjectTreeLoader.cpp
  objects/MachineInfo.h objects/MachineInfo.cpp
  results/BlockAllocator.h
  results/FXDataManager.h results/FXDataManager.cpp
  run/ResultLines.h run/ResultLines.cpp
)
target_link_libraries(vnconsolecore PUBLIC vn_common_cfg vnplatform VNCli Qt6::Core PRIVATE Threads::Threads)

vn_add_test(store_tests store
  SOURCES
    tests/store/ResourcesTest.cpp
    tests/store/SystemErrorTextTest.cpp
    tests/store/ReportCatalogueTest.cpp
    tests/store/ReportSetStoreTest.cpp
    tests/store/LocaleTest.cpp
  LIBRARIES vnconsolecore)

# The Turkish locales LocaleTest runs under, compiled from the sources of
# Debian's "locales" package (scripts/install-deps) into the build tree, so
# that the test needs no locale installed system-wide.
set(VN_TEST_LOCALES ${CMAKE_CURRENT_BINARY_DIR}/locales)
set(vn_test_locale_files)
foreach(charmap UTF-8 ISO-8859-9)
  set(locale ${VN_TEST_LOCALES}/tr_TR.${charmap})
  add_custom_command(
    OUTPUT ${locale}/LC_CTYPE
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VN_TEST_LOCALES}
    COMMAND localedef --no-archive -c -i tr_TR -f ${charmap} ${locale}
    COMMENT "Compiling the locale tr_TR.${charmap} for the tests"
    VERBATIM)
  list(APPEND vn_test_locale_files ${locale}/LC_CTYPE)
endforeach()
add_custom_target(vn_test_locales DEPENDS ${vn_test_locale_files})
add_dependencies(store_tests vn_test_locales)
target_compile_definitions(store_tests PRIVATE VN_TEST_LOCALES="${VN_TEST_LOCALES}")

# The object tree's logic, listings and information rows, against machines of
# the test harness.
vn_add_test(objects_tests objects
  SOURCES
    tests/objects/ObjectTreeTest.cpp
    tests/objects/ObjectEnumerationTest.cpp
  LIBRARIES vnconsolecore vn_machine_testing)

# The result data manager, on result files written by hand and by the
# reporting server's own writer.
vn_add_test(results_tests results
  SOURCES
    tests/results/FXDataManagerTest.cpp
  LIBRARIES vnconsolecore vnserver)
