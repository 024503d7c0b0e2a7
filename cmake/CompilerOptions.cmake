# Options shared by every target of the project, as an interface library that targets link.
add_library(kro_options INTERFACE)
if(WIN32)
    target_compile_definitions(kro_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX NOGDI
                                                     _WIN32_WINNT=0x0601)
endif()
if(MSVC)
    target_compile_options(kro_options INTERFACE /W4 /utf-8 $<$<BOOL:${KRO_WARNINGS_AS_ERRORS}>:/WX>)
else()
    target_compile_options(kro_options INTERFACE -Wall -Wextra -ffunction-sections -fdata-sections
                                                 $<$<BOOL:${KRO_WARNINGS_AS_ERRORS}>:-Werror>)
    # The same bytes from any folder: paths in the binaries (__FILE__ in code sites and log records, whose
    # records show only the file's name) are written relative to the sources and the build.
    target_compile_options(kro_options INTERFACE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                                                 -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
    if(WIN32)
        # A static runtime: the executables import only Windows system DLLs.
        target_link_options(kro_options INTERFACE -static -Wl,--gc-sections)
        # The same bytes at any time: the image's time stamp is SOURCE_DATE_EPOCH, or 0 where it is not set.
        set(CMAKE_CXX_LINKER_LAUNCHER sh ${CMAKE_CURRENT_LIST_DIR}/reproducible-link.sh)
    elseif(APPLE)
        target_link_options(kro_options INTERFACE -Wl,-dead_strip)
    else()
        target_link_options(kro_options INTERFACE -Wl,--gc-sections)
    endif()
endif()

# The host build's checked configuration: every target built with AddressSanitizer and
# UndefinedBehaviorSanitizer, the first fault ending the process.
option(KRO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KRO_SANITIZE)
    set(KRO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(kro_options INTERFACE ${KRO_SANITIZER_FLAGS})
    target_link_options(kro_options INTERFACE ${KRO_SANITIZER_FLAGS})
endif()

# Executables whose entry point is wmain or wWinMain.
function(kro_unicode_entry target)
    if(NOT MSVC)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()

# Launchers: the resource section read-only, as Microsoft's linker makes it (GNU ld makes it writable), so that
# Wine maps the payload shared instead of private; and the image loaded whole at the start from a share or
# removable media (/SWAPRUN:NET, /SWAPRUN:CD), for which GNU ld has no switch.
set(KRO_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")
function(kro_launcher_header target)
    if(MSVC)
        target_link_options(${target} PRIVATE /SWAPRUN:NET /SWAPRUN:CD)
    else()
        add_custom_command(TARGET ${target} POST_BUILD
                           COMMAND sh ${KRO_CMAKE_DIR}/launcher-header.sh $<TARGET_FILE:${target}> VERBATIM)
    endif()
endfunction()
