add_library(vnconsolecore STATIC
  support/Resources.h support/Resources.cpp
  support/SystemErrorText.h support/SystemErrorText.cpp
  reports/ReportCatalogue.h reports/ReportCatalogue.cpp
  reports/ReportSet.h reports/ReportSet.cpp
  reports/ReportSetStore.h reports/ReportSetStore.cpp
)
target_link_libraries(vnconsolecore PUBLIC vn_common_cfg vnplatform)

vn_add_test(store_tests store
  SOURCES
    tests/store/ResourcesTest.cpp
    tests/store/SystemErrorTextTest.cpp
    tests/store/ReportCatalogueTest.cpp
    tests/store/ReportSetStoreTest.cpp
  LIBRARIES vnconsolecore)
