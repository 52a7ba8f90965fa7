# The Debian packages, split as Debian splits a library: `cmake --build build --target
# package` makes, in build/,
#   libtgenerator0       the run-time libraries (no Qt)
#   libtgenerator-dev    headers, .so links, the CMake package and the pkg-config file
#   genkey               the command line and its man page
#   tgenerator-designer  genform, the design-time module and the Qt dialogs' library
#   python3-tgenerator   the Python module
# Dependencies on the system's libraries are found by dpkg-shlibdeps; on each other, they are
# written here (the same version).
include(${CMAKE_CURRENT_LIST_DIR}/packages.cmake)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${tgen_package_components})
set(CPACK_PACKAGE_NAME tgenerator)
set(CPACK_PACKAGE_VENDOR "the tgenerator developers")
set(CPACK_PACKAGE_CONTACT "tgenerator developers <team@tgenerator.dev>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries, which dpkg-shlibdeps finds in the build while it looks at the programs.
get_property(tgen_runtime_libraries GLOBAL PROPERTY TGEN_RUNTIME_LIBRARIES)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
foreach(library ${tgen_runtime_libraries})
  get_target_property(dir ${library} BINARY_DIR)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
endforeach()
list(REMOVE_DUPLICATES CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
set(CPACK_STRIP_FILES ON)

set(tgen_same "(= ${PROJECT_VERSION})")
# Descriptions: the first line is the summary; CPack indents the rest, and an empty line
# separates paragraphs. The project-wide summary is left at CPack's own default, which CPack
# then does not put in front of each package's.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_PACKAGE_NAME} built using CMake")
set(tgen_about
    "A library and tools that hand out formatted key values for database records
(invoice numbers, order codes) from a mask, drawn by many clients at once from
sequences kept in one shared table on SQLite or PostgreSQL, with undo, batches
and gap-free numbers inside the application's own transaction.
")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "formatted key values drawn from shared sequences - libraries
${tgen_about}
This package holds the run-time libraries.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${tgen_package_runtime} ${tgen_same}, libsqlite3-dev, libpq-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "${tgen_package_designer}, qt6-base-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "formatted key values drawn from shared sequences - development files
${tgen_about}
This package holds the headers (<tgenerator/...>), the CMake package and the
pkg-config file. The Qt dialogs' library comes with ${tgen_package_designer}.")
set(CPACK_DEBIAN_GENKEY_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_GENKEY_PACKAGE_DEPENDS "${tgen_package_runtime} ${tgen_same}")
set(CPACK_DEBIAN_GENKEY_DESCRIPTION "formatted key values drawn from shared sequences - command line
${tgen_about}
This package holds genkey, which draws keys and looks after generator tables.")
set(CPACK_DEBIAN_DESIGNER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_DEPENDS "${tgen_package_runtime} ${tgen_same}")
set(CPACK_DEBIAN_DESIGNER_DESCRIPTION "formatted key values drawn from shared sequences - designer and Qt dialogs
${tgen_about}
This package holds genform, the form designer, the design-time module it
loads, and the library of Qt dialogs for composing masks.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, ${tgen_package_runtime} (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "formatted key values drawn from shared sequences - Python module
${tgen_about}
This package holds the Python module tgenerator.")

# The packages with libraries say which package a program built against them depends on
# (shlibs), and have the dynamic linker's cache renewed (the ldconfig trigger).
foreach(component runtime designer)
  string(TOUPPER ${component} upper)
  set(shlibs "")
  if(component STREQUAL "runtime")
    set(libraries ${tgen_runtime_libraries})
  else()
    set(libraries tgen_design)
  endif()
  foreach(library ${libraries})
    string(APPEND shlibs
           "lib${library} ${PROJECT_VERSION_MAJOR} ${tgen_package_${component}} (>= ${PROJECT_VERSION})\n")
  endforeach()
  set(control ${CMAKE_BINARY_DIR}/packaging/control-${component})
  file(MAKE_DIRECTORY ${control})
  file(WRITE ${control}/shlibs "${shlibs}")
  file(COPY ${CMAKE_CURRENT_LIST_DIR}/debian/triggers DESTINATION ${control})
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA "${control}/shlibs;${control}/triggers")
endforeach()
foreach(component ${tgen_package_components})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${tgen_package_${component}})
  set(CPACK_DEBIAN_${upper}_FILE_NAME DEB-DEFAULT)
endforeach()
include(CPack)
