# make package: a Debian package, lexaro_<version>_<arch>.deb, of whatever the
# install rules install, so every program and manual page is in it. The
# programs are stripped, the manual pages compressed as Debian expects, and
# the dependencies found by dpkg-shlibdeps where it is installed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lexaro)
set(CPACK_PACKAGE_DESCRIPTION
    "Tools that compile a bilingual dictionary, kept in a plain text file, into a\n"
    "Palm OS database (.pdb) for a dictionary reader on the handheld, and that\n"
    "check and read such databases.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "lexaro maintainers <maintainers@users.noreply.c-seed-ace109dc.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# `man lexaro` is part of what the package gives, and minimal systems lack man.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS man-db)

find_program(LEXARO_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(LEXARO_FILE file)
if(LEXARO_DPKG_SHLIBDEPS AND LEXARO_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, zlib1g, libminizip1")
endif()

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_manual_pages.cmake)
include(CPack)
