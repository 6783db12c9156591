# Builds the .deb from the build tree and checks what it holds and declares.
#   cmake -DCPACK_CONFIG= -DWORK_DIR= -P check_deb.cmake
# Says "test skipped" where the Debian package tools are missing.
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
    message("test skipped: no dpkg-deb")
    return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config "${CPACK_CONFIG}" -G DEB -B "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs "${WORK_DIR}/quarlix_*.deb")
list(LENGTH debs count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
    message(FATAL_ERROR "cpack made no single quarlix .deb (${rc}):\n${out}")
endif()

execute_process(COMMAND ${DPKG_DEB} -c ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE rc)
execute_process(COMMAND ${DPKG_DEB} -f ${debs} Package Architecture Depends
                OUTPUT_VARIABLE fields RESULT_VARIABLE rc2)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "dpkg-deb cannot read ${debs}")
endif()
message("${fields}${contents}")

# Every piece, at the path a Debian system looks in, the program executable.
foreach(pattern
        "(^|\n)-rwxr-xr-x [^\n]* \\./usr/bin/quarlix\n"
        " \\./usr/share/man/man1/quarlix\\.1(\\.gz)?\n"
        "(^|\n)-rwxr-xr-x [^\n]* \\./usr/bin/quarlix-export\n"
        " \\./usr/share/man/man1/quarlix-export\\.1(\\.gz)?\n"
        "(^|\n)-rwxr-xr-x [^\n]* \\./usr/bin/quarlix-info\n"
        " \\./usr/share/man/man1/quarlix-info\\.1(\\.gz)?\n"
        " \\./usr/lib/[^\n]*libquarlix_level\\.a\n"
        " \\./usr/include/quarlix/level/trunit2\\.h\n"
        " \\./usr/include/quarlix/storage/zfiles\\.h\n"
        " \\./usr/lib/[^\n]*cmake/quarlix/quarlixConfig\\.cmake\n"
        " \\./usr/lib/[^\n]*cmake/quarlix/quarlixConfigVersion\\.cmake\n"
        " \\./usr/lib/[^\n]*cmake/quarlix/quarlixTargets\\.cmake\n")
    if(NOT contents MATCHES "${pattern}")
        message(FATAL_ERROR "the .deb lacks ${pattern}")
    endif()
endforeach()
# Nothing that belongs to the build or the tests.
foreach(stray make_level quarlix_tests libquarlix_driver libquarlix_levelgen libquarlix_export libquarlix_info
              libquarlix_app walks.h level_io.h file_system_shared.h)
    if(contents MATCHES "/${stray}[^/\n]*\n")
        message(FATAL_ERROR "the .deb holds ${stray}")
    endif()
endforeach()
if(NOT fields MATCHES "Package: quarlix\n" OR NOT fields MATCHES "Depends:[^\n]*zlib1g")
    message(FATAL_ERROR "unexpected control fields:\n${fields}")
endif()
