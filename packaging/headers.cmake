# The installed headers: the public ones a program includes as <tgenerator/NAME>, and, below
# them, only the headers those need in turn (with their includes rooted at <tgenerator/...>,
# so that nothing but the usual include folder is needed). SQL helpers, the store registry,
# connections, dialog units and resources stay inside.
#
# Made when CMake runs, into BUILD/include/tgenerator, and again when any of them changes.
set(tgen_public_headers
    tgen.h=core/tgen.h                  # the C interface
    keysequence.h=core/keysequence.h    # the C++ facade
    generator.h=core/generator.h        # the component and its events
    exception.h=platform/base/exception.h
    notice.h=platform/base/notice.h     # where refusals and notices go
    genmask.h=core/genmask.h            # the mask engine alone
    checkchar.h=core/checkchar.h
    period.h=core/period.h
    gentable.h=core/gentable.h          # making a generator table from code
    transfer.h=core/transfer.h          # sequences to and from CSV and JSON
    paradox.h=core/paradox.h            # old Paradox tables
    sqlite.h=platform/store/sqlitestore.h      # draws inside the application's transaction
    postgresql.h=platform/store/pgstore.h
    forms.h=platform/model/formstream.h        # stored forms
    gendlg.h=design/gendlg.h            # the Qt dialogs
    setupdlg.h=design/setupdlg.h
    uabt.h=design/uabt.h)

set(tgen_include_dir ${PROJECT_BINARY_DIR}/include/tgenerator)
file(REMOVE_RECURSE ${tgen_include_dir})

# Copies `header` and, first, the project headers it includes.
function(tgen_install_header header)
  get_property(done GLOBAL PROPERTY TGEN_HEADER_${header} SET)
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY TGEN_HEADER_${header} TRUE)
  set(source ${PROJECT_SOURCE_DIR}/${header})
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REGEX MATCHALL "#include \"[a-z]+/[a-z_/]+\\.h\"" includes "${text}")
  foreach(line ${includes})
    string(REGEX REPLACE "#include \"(.*)\"" "\\1" included "${line}")
    tgen_install_header(${included})
  endforeach()
  string(REGEX REPLACE "#include \"([a-z]+/[a-z_/]+\\.h)\"" "#include <tgenerator/\\1>" text
                       "${text}")
  file(WRITE ${tgen_include_dir}/${header} "${text}")
endfunction()

foreach(entry ${tgen_public_headers})
  string(REPLACE "=" ";" pair ${entry})
  list(GET pair 0 name)
  list(GET pair 1 header)
  tgen_install_header(${header})
  file(WRITE ${tgen_include_dir}/${name} "#include <tgenerator/${header}>  // IWYU pragma: export\n")
endforeach()
