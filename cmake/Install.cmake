# `make install` and `make deb`: sfxbuild in bin/, the stub in lib/sfx/ (where sfxbuild looks
# when no stub sits beside it), the manual pages compressed, and the copyright and changelog.

# `install` and `package` build only what they install, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Compressed without names or times, so that the package is the same from build to build.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(SFX_DOC_BUILD ${CMAKE_BINARY_DIR}/doc)
set(SFX_COMPRESSED_DOCS)
foreach(source doc/sfxbuild.1 doc/sfxstub.1 doc/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${SFX_DOC_BUILD}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SFX_DOC_BUILD}
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_SOURCE_DIR}/${source} > ${SFX_DOC_BUILD}/${name}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND SFX_COMPRESSED_DOCS ${SFX_DOC_BUILD}/${name}.gz)
endforeach()
add_custom_target(sfx_docs ALL DEPENDS ${SFX_COMPRESSED_DOCS})
# `make install` builds sfxbuild and sfxstub by name; the pages come with sfxbuild.
add_dependencies(sfxbuild sfx_docs)

install(TARGETS sfxbuild RUNTIME DESTINATION bin)
install(TARGETS sfxstub RUNTIME DESTINATION lib/sfx)
install(FILES ${SFX_DOC_BUILD}/sfxbuild.1.gz ${SFX_DOC_BUILD}/sfxstub.1.gz
  DESTINATION share/man/man1)
install(FILES doc/copyright ${SFX_DOC_BUILD}/changelog.gz DESTINATION share/doc/sfx)
# The libraries linked into the stub and the tool, explained in the copyright file.
install(FILES doc/lintian-overrides DESTINATION share/lintian/overrides RENAME sfx)

set(SFX_PACKAGE_MAINTAINER "sfx maintainers <sfx-maintainers@example.org>" CACHE STRING
  "Maintainer field of the Debian package: the name and address of whoever ships it")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sfx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SFX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup self-extractor: launcher stub and build tool")
set(CPACK_PACKAGE_DESCRIPTION
  "sfxbuild makes single-file setup launchers: a stub program that carries\n"
  "an enciphered configuration and a 7z archive behind its own image. When\n"
  "run, the launcher extracts the archive into a private temporary folder,\n"
  "starts the product's setup and removes the folder afterwards; /x\n"
  "extracts only.\n"
  "\n"
  "sfxbuild checks a product before it is shipped, stamps identification\n"
  "values into a built file, and verifies every byte of a launcher file\n"
  "without running it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_STRIP_FILES ON)
# sfxbuild packs folders with 7zz.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
