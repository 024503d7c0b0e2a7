# GoogleTest compiled for the target from Debian's sources; nothing is downloaded. Included by the Windows
# build's tests and the host build's.
set(KRO_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${KRO_GOOGLETEST_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found at ${KRO_GOOGLETEST_DIR}: configure with "
                        "-DKRO_BUILD_TESTS=OFF to build without the tests, or install them (scripts/setup.sh, "
                        "Debian package googletest) or name them with -DKRO_GOOGLETEST_DIR=...")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KRO_GOOGLETEST_DIR} googletest EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)
