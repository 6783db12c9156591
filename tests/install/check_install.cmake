# Installs the build tree into a fresh prefix, then configures, builds and runs a consumer
# project that finds the installed package and links quarlix::level.
#   cmake -DBUILD_DIR= -DCONSUMER_DIR= -DWORK_DIR= -DMAKE_LEVEL= -DGENERATOR= -DCXX_COMPILER=
#         -DCXX_FLAGS= -DBUILD_TYPE= -DBINDIR= -DLIBDIR= -DINCLUDEDIR= -DMANDIR= -P check_install.cmake
# Says "test skipped" when there is no level generator to make the input.
if(NOT MAKE_LEVEL OR NOT EXISTS "${MAKE_LEVEL}")
    message("test skipped: no level generator in this build")
    return()
endif()

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
run("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

foreach(installed
        ${BINDIR}/quarlix
        ${MANDIR}/man1/quarlix.1
        ${BINDIR}/quarlix-export
        ${MANDIR}/man1/quarlix-export.1
        ${BINDIR}/quarlix-info
        ${MANDIR}/man1/quarlix-info.1
        ${LIBDIR}/libquarlix_level.a
        ${INCLUDEDIR}/quarlix/level/trunit2.h
        ${INCLUDEDIR}/quarlix/storage/zfiles.h
        ${LIBDIR}/cmake/quarlix/quarlixConfig.cmake
        ${LIBDIR}/cmake/quarlix/quarlixConfigVersion.cmake)
    if(NOT EXISTS "${prefix}/${installed}")
        message(FATAL_ERROR "not installed: ${installed}")
    endif()
endforeach()

# The library's inner headers stay inside it.
foreach(internal level/walks.h level/level_io.h storage/file_system_shared.h)
    if(EXISTS "${prefix}/${INCLUDEDIR}/quarlix/${internal}")
        message(FATAL_ERROR "installed, though internal: ${internal}")
    endif()
endforeach()

# Only the installed tree is visible to the consumer: no package registry, no source tree.
run("consumer configure" ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build"
    -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
file(STRINGS "${WORK_DIR}/build/CMakeCache.txt" found_dir REGEX "^quarlix_DIR:")
string(FIND "${found_dir}" "${prefix}/" at)
if(NOT at GREATER -1)
    message(FATAL_ERROR "the package was not found in the install prefix: ${found_dir}")
endif()
run("consumer build" ${CMAKE_COMMAND} --build "${WORK_DIR}/build")

run("make_level" "${MAKE_LEVEL}" example "${WORK_DIR}/example.trc")
run("consumer run" "${WORK_DIR}/build/consumer" "${WORK_DIR}/example.trc" "${WORK_DIR}/example.tr4")
message("${last_output}")
