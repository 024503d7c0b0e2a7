# The stamping tool that add_setup_launcher() runs. On a Windows build machine that is launcher-stamp.exe
# itself. When cross-compiling it is a native launcher-stamp, so that stamping needs no Wine: the one
# KRO_NATIVE_STAMP names (a host build's, cmake --preset host), else one built from these sources with the
# build machine's compiler; the package installs it beside launcher-stamp.exe. Without a compiler for the
# build machine the Windows tool runs under Wine.
# Sets SETUP_LAUNCHER_STAMP, SETUP_LAUNCHER_STAMP_NATIVE and SETUP_LAUNCHER_DEPENDS, and KRO_NATIVE_STAMP_FILE
# (the native tool, for the package) when there is one.
set(KRO_NATIVE_STAMP "" CACHE FILEPATH "A launcher-stamp built for the build machine (empty: built here)")
set(KRO_NATIVE_STAMP_FILE "")
set(SETUP_LAUNCHER_DEPENDS "")
if(NOT CMAKE_CROSSCOMPILING)
    set(SETUP_LAUNCHER_STAMP "$<TARGET_FILE:launcher-stamp>")
    set(SETUP_LAUNCHER_STAMP_NATIVE TRUE)
    list(APPEND SETUP_LAUNCHER_DEPENDS launcher-stamp)
elseif(KRO_NATIVE_STAMP)
    set(KRO_NATIVE_STAMP_FILE ${KRO_NATIVE_STAMP})
else()
    find_program(KRO_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH)
    if(KRO_HOST_CXX)
        include(ExternalProject)
        set(native_build ${PROJECT_BINARY_DIR}/native-stamp)
        set(KRO_NATIVE_STAMP_FILE ${native_build}/bin/launcher-stamp)
        ExternalProject_Add(native-stamp
            SOURCE_DIR ${PROJECT_SOURCE_DIR}
            BINARY_DIR ${native_build}
            CMAKE_ARGS -DCMAKE_CXX_COMPILER=${KRO_HOST_CXX} -DCMAKE_BUILD_TYPE=Release -DKRO_BUILD_TESTS=OFF
                       -DKRO_WARNINGS_AS_ERRORS=${KRO_WARNINGS_AS_ERRORS}
            BUILD_ALWAYS TRUE
            BUILD_BYPRODUCTS ${KRO_NATIVE_STAMP_FILE}
            INSTALL_COMMAND "")
        list(APPEND SETUP_LAUNCHER_DEPENDS native-stamp)
    endif()
endif()
if(KRO_NATIVE_STAMP_FILE)
    set(SETUP_LAUNCHER_STAMP ${KRO_NATIVE_STAMP_FILE})
    list(APPEND SETUP_LAUNCHER_DEPENDS ${KRO_NATIVE_STAMP_FILE})
    set(SETUP_LAUNCHER_STAMP_NATIVE TRUE)
elseif(CMAKE_CROSSCOMPILING)
    set(SETUP_LAUNCHER_STAMP "$<TARGET_FILE:launcher-stamp>")
    set(SETUP_LAUNCHER_STAMP_NATIVE FALSE)
    list(APPEND SETUP_LAUNCHER_DEPENDS launcher-stamp)
endif()
set(SETUP_LAUNCHER_STAMP ${SETUP_LAUNCHER_STAMP} CACHE INTERNAL "")
set(SETUP_LAUNCHER_STAMP_NATIVE ${SETUP_LAUNCHER_STAMP_NATIVE} CACHE INTERNAL "")
