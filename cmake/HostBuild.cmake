# The project built for the build machine itself (Linux, macOS): launcher-stamp, natively, and its tests.
# The tests stamp the stub and the demo installer of a Windows build (KRO_WINDOWS_BUILD_DIR).
option(KRO_BUILD_FUZZERS "Build the libFuzzer targets of the parsers (needs clang)" OFF)
set(KRO_WINDOWS_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/wine CACHE PATH
    "A Windows build of this project, whose stub and programs the tests stamp")

add_subdirectory(src/common/tools/launcher-stamp)
add_subdirectory(src/posix/tools/launcher-stamp)

# The installed package and the release archive (cpack, a tar.gz): this tool with the Windows build's stub.
include(cmake/Release.cmake)
install(TARGETS launcher-stamp RUNTIME DESTINATION ${KRO_INSTALL_BIN} COMPONENT release)
install(FILES ${KRO_WINDOWS_BUILD_DIR}/bin/setup-stub.exe DESTINATION ${KRO_INSTALL_STUB} COMPONENT release)
string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} KRO_HOST_SYSTEM)
kro_release_archive(${KRO_HOST_SYSTEM} TGZ)

if(KRO_BUILD_TESTS)
    enable_testing()
    add_subdirectory(tests/posix)
endif()
