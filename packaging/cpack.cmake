# The Debian package: `cmake --build build --target package` (or scripts/make-deb.sh) makes
# tgenerator_VERSION_amd64.deb of everything the install rules install, under /usr, with its
# dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tgenerator)
set(CPACK_PACKAGE_VENDOR "the tgenerator developers")
set(CPACK_PACKAGE_CONTACT "tgenerator developers <team@tgenerator.dev>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "formatted key values drawn from shared sequences")
set(CPACK_PACKAGE_DESCRIPTION
    "A library and tools that hand out formatted key values for database records
(invoice numbers, order codes) from a mask, drawn by many clients at once from
sequences kept in one shared table on SQLite or PostgreSQL, with undo, batches,
gap-free numbers inside the application's own transaction, and Qt dialogs for
composing masks.

This package holds genkey (the command line), genform (the form designer), the
shared libraries with their headers, CMake package and pkg-config file, and the
design-time module.")
# The libraries are registered with the dynamic linker by the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file, so that packages built against these libraries depend on this one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME_SUFFIX "")
include(CPack)
