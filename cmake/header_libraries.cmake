# The header-only libraries of the programs (Debian: libcli11-dev, nlohmann-json3-dev, libstb-dev),
# reached through a build-tree directory that links to their own directories only, so that the
# Windows cross build does not see the host's other system headers.
set(QUARLIX_HEADER_LIBRARIES ${PROJECT_BINARY_DIR}/header_libraries)
file(MAKE_DIRECTORY ${QUARLIX_HEADER_LIBRARIES})
foreach(dir CLI nlohmann stb)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "the programs need /usr/include/${dir} "
                            "(libcli11-dev, nlohmann-json3-dev, libstb-dev)")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${QUARLIX_HEADER_LIBRARIES}/${dir} SYMBOLIC)
endforeach()
add_library(quarlix_header_libraries INTERFACE)
target_include_directories(quarlix_header_libraries SYSTEM INTERFACE ${QUARLIX_HEADER_LIBRARIES})
