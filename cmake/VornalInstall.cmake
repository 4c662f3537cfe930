# What `cmake --install` (or `make install`) puts where, under the prefix
# (/usr/local unless told otherwise, DESTDIR honoured):
#   bin/                 VNMgr, VN, VNSrv, vnmachined, vnadmin, vnsetup
#   lib/vornal/          the shared libraries: the console module, the ui and
#                        platform layers, the protocol, the server's client,
#                        the converter and the mail library (the platform
#                        loads the mail library from beside itself)
#   share/applications/  vornal-console.desktop, the desktop menu's entry
#   share/icons/hicolor/scalable/apps/vornal.svg
#   share/doc/vornal/    the documentation of docs/
# The programs find the libraries through their RPATH ($ORIGIN/../lib/vornal),
# so nothing needs LD_LIBRARY_PATH. VNSrv is also copied into each machine's
# product directory by vnsetup and the push install, so it carries the
# libraries' absolute folder as well: the one under the prefix this build was
# configured with (CMAKE_INSTALL_PREFIX; `make install PREFIX=...` configures
# it), which is also the Debian package's.
include(GNUInstallDirs)

# Private libraries, in the package's own folder whatever the multiarch libdir.
set(VN_INSTALL_LIBDIR lib/vornal)
set(vn_installed_programs VNMgr VN VNSrv vnmachined vnadmin vnsetup)
set(vn_installed_libraries VNConsole vnui vnplatform vnproto VNCli ConvertCSV MAPI32)

file(RELATIVE_PATH vn_bin_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${VN_INSTALL_LIBDIR})
foreach(program IN LISTS vn_installed_programs)
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${vn_bin_to_lib}")
endforeach()
set_property(TARGET VNSrv APPEND PROPERTY INSTALL_RPATH "${CMAKE_INSTALL_PREFIX}/${VN_INSTALL_LIBDIR}")
foreach(library IN LISTS vn_installed_libraries)
  set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
endforeach()

install(TARGETS ${vn_installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${vn_installed_libraries} LIBRARY DESTINATION ${VN_INSTALL_LIBDIR})
install(FILES hosts/VNMgr/desktop/vornal-console.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES hosts/VNMgr/desktop/vornal.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md" PATTERN "*.png"
        PATTERN "*.svg")

# A Debian package of the same files: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME vornal)
set(CPACK_PACKAGE_VENDOR "Vornal")
set(CPACK_PACKAGE_CONTACT "Vornal developers <vornal@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Disk-space reports for the machines of a network")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)

# The installed tree, checked: a DESTDIR install, its menu entry validated,
# the installed programs' RPATH free of this build and their --help run.
add_test(NAME Install.IntoATemporaryPrefix
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-install ${PROJECT_BINARY_DIR})
set_tests_properties(Install.IntoATemporaryPrefix PROPERTIES LABELS workspace SKIP_RETURN_CODE 77)
