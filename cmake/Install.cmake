# `make install` and `make deb`: sfxbuild in bin/, the stub in lib/sfx/ (where sfxbuild looks
# when no stub sits beside it), and the manual pages.

# `install` and `package` build only what they install, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS sfxbuild RUNTIME DESTINATION bin)
install(TARGETS sfxstub RUNTIME DESTINATION lib/sfx)
install(FILES doc/sfxbuild.1 doc/sfxstub.1 DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sfx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "sfx maintainers <sfx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup self-extractor: launcher stub and build tool")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# sfxbuild packs folders with 7zz.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
