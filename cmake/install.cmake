# Installation and packages: the programs quarlix, quarlix-info and quarlix-export with their
# man pages, and the level library as the CMake package "quarlix" with the target
# quarlix::level. On Windows the programs, the README and the man pages sit side by side at the
# top of the install tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
    set(QUARLIX_PROGRAM_DIR .)
    set(QUARLIX_MAN_DIR .)
else()
    set(QUARLIX_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
    set(QUARLIX_MAN_DIR ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(TARGETS quarlix quarlix-info quarlix-export RUNTIME DESTINATION ${QUARLIX_PROGRAM_DIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/doc/quarlix.1 ${PROJECT_SOURCE_DIR}/doc/quarlix-info.1 ${PROJECT_SOURCE_DIR}/doc/quarlix-export.1
        DESTINATION ${QUARLIX_MAN_DIR} COMPONENT program)
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT program)
endif()

# The library keeps its include style (#include "level/trunit2.h") from include/quarlix.
set(QUARLIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quarlix)
set_target_properties(quarlix_level PROPERTIES EXPORT_NAME level POSITION_INDEPENDENT_CODE ON)
target_compile_features(quarlix_level PUBLIC cxx_std_20)
target_include_directories(quarlix_level PUBLIC
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quarlix>)
install(TARGETS quarlix_level EXPORT quarlixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The public headers: the level object and what it is made of, the conversion, the room
# geometry and the record decoders; the in-memory file, its errors and file calls, and the
# thread limit. The walks and the readers and writers behind them stay inside the library.
set(QUARLIX_PUBLIC_HEADERS
    level/conversion.h level/geometry.h level/records.h level/room.h level/samples.h level/sections.h
    level/room_table.h level/table_place.h level/trunit2.h
    storage/errors.h storage/file_system.h storage/parallel.h storage/zfiles.h)
foreach(header ${QUARLIX_PUBLIC_HEADERS})
    get_filename_component(part ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarlix/${part} COMPONENT development)
endforeach()
install(EXPORT quarlixTargets NAMESPACE quarlix:: DESTINATION ${QUARLIX_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quarlixConfig.cmake.in
    ${PROJECT_BINARY_DIR}/quarlixConfig.cmake INSTALL_DESTINATION ${QUARLIX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quarlixConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quarlixConfig.cmake ${PROJECT_BINARY_DIR}/quarlixConfigVersion.cmake
        DESTINATION ${QUARLIX_CMAKE_DIR} COMPONENT development)

# Packages: a .deb with everything on Linux, a .zip with the program for Windows users.
set(CPACK_PACKAGE_NAME quarlix)
set(CPACK_PACKAGE_VENDOR "Quarlix developers")
set(CPACK_PACKAGE_CONTACT "Quarlix developers <dev@quarlix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter between the TR4 and TRC level file formats")
set(CPACK_PACKAGE_DESCRIPTION "Quarlix converts level files of a 3D game engine between its two \
binary formats, TR4 and TRC, in both directions. quarlix-export writes a level's texture \
pages as PNG pictures, its samples as WAVE files and its rooms as a binary glTF model. The package also holds the static level \
library with its headers and a CMake package (find_package(quarlix), target quarlix::level).")
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
    set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL program)
    set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # Version-exact dependencies when the tool that works them out is there.
    find_program(QUARLIX_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(QUARLIX_DPKG_SHLIBDEPS)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, zlib1g")
    endif()
    # find_package(quarlix) needs the zlib headers and library.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zlib1g-dev")
endif()
include(CPack)
