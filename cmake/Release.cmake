# What a release ships, installed (cmake --install) and packed (cpack): the stamping tool, the stub, the CMake
# package for find_package(SetupLauncher), and in the archive README and SHA256SUMS, the checksums of every
# file in it (ReleaseChecksums.cmake). The caller installs its tool and stub into the component "release"
# and calls kro_release_archive().
set(KRO_INSTALL_BIN bin)
set(KRO_INSTALL_STUB lib/SetupLauncher)
set(KRO_INSTALL_CONFIG lib/cmake/SetupLauncher)
set(KRO_CONFIG_TO_PREFIX ../../..)

configure_file(${PROJECT_SOURCE_DIR}/cmake/SetupLauncherConfig.cmake.in SetupLauncherConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(SetupLauncherConfigVersion.cmake COMPATIBILITY SameMajorVersion
                                 ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/SetupLauncherConfig.cmake ${PROJECT_BINARY_DIR}/SetupLauncherConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/SetupLauncherFunctions.cmake
              ${PROJECT_SOURCE_DIR}/cmake/SetupLauncherSign.cmake
        DESTINATION ${KRO_INSTALL_CONFIG} COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT release EXCLUDE_FROM_ALL)

# kro_release_archive(SYSTEM GENERATOR): cpack in the build folder packs the component "release" into
# setup-launcher-VERSION-SYSTEM (a GENERATOR archive: ZIP, TGZ) whose files lie in a folder of that name, and
# writes the archive's SHA-256 beside it (.sha256). Nothing in a project that adds this one as a
# subdirectory: its packages are its own.
function(kro_release_archive system generator)
    if(NOT PROJECT_IS_TOP_LEVEL)
        return()
    endif()
    set(CPACK_PACKAGE_NAME setup-launcher)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_FILE_NAME setup-launcher-${PROJECT_VERSION}-${system})
    set(CPACK_GENERATOR ${generator})
    set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};release;/")
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/ReleaseChecksums.cmake)
    set(CPACK_PACKAGE_CHECKSUM SHA256)
    include(CPack)
endfunction()
