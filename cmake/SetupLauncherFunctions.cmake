# add_setup_launcher(NAME PAYLOAD file [ICON file] [OUTPUT_NAME name] [VERSION a.b.c.d] [PRODUCT_NAME text]
#                    [COMPANY_NAME text] [VERSION_STRINGS Key=Value...] [SIGN_COMMAND command...])
# A target NAME (built by default) that writes <OUTPUT_NAME or NAME>.exe into CMAKE_RUNTIME_OUTPUT_DIRECTORY,
# or the current binary directory: the stub launcher stamped by launcher-stamp with the payload, the icon and
# the version. VERSION_STRINGS sets any string of the version block, as the tool's --version-string does,
# after the options above. The target's property SETUP_LAUNCHER_FILE holds the file's path.
#
# SIGN_COMMAND (last, as it takes every argument behind it) signs the stamped launcher as the target's last
# step; the launcher gets its name only once the command succeeded, so a failed signing leaves no unsigned
# launcher that a later build would take as done. In its arguments <LAUNCHER> is the file the command leaves
# signed, holding the stamped launcher when the command starts (for signers that sign in place: jsign,
# signtool), unless <UNSIGNED> appears: then <UNSIGNED> is the stamped launcher and <LAUNCHER> does not exist
# yet (for signers that write a new file: osslsigncode -in <UNSIGNED> -out <LAUNCHER>).
# Secrets: <ENV:NAME> in an argument is the environment variable NAME's value when the command runs
# (-pass <ENV:SIGNING_PASSWORD>), or the signer reads a file (osslsigncode -readpass FILE). Never $ENV{NAME}
# or a variable holding the secret: CMake expands those when it configures, into the build files. A failed
# signing says which signer failed and its exit code, never the command line.
#
# Where the stamping tool runs: natively when SETUP_LAUNCHER_STAMP_NATIVE is set (a native launcher-stamp,
# or a Windows host); elsewhere through SETUP_LAUNCHER_RUNNER (a command list the tool is appended to), by
# default CMAKE_CROSSCOMPILING_EMULATOR, else wine64 or wine from PATH or /usr/lib/wine.
# The stub, the tool and their dependencies come from SETUP_LAUNCHER_STUB, SETUP_LAUNCHER_STAMP,
# SETUP_LAUNCHER_STAMP_NATIVE and SETUP_LAUNCHER_DEPENDS, which the package (or the source tree) sets.
# Cached: add_setup_launcher() is called from other folders than the one that includes this file.
set(SETUP_LAUNCHER_SIGN_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/SetupLauncherSign.cmake" CACHE INTERNAL "")

function(add_setup_launcher name)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "PAYLOAD;ICON;OUTPUT_NAME;VERSION;PRODUCT_NAME;COMPANY_NAME"
                          "VERSION_STRINGS;SIGN_COMMAND")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "add_setup_launcher(${name}): unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT ARG_PAYLOAD)
        message(FATAL_ERROR "add_setup_launcher(${name}): PAYLOAD names the installer to carry")
    endif()
    if(DEFINED ARG_VERSION AND NOT ARG_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
        message(FATAL_ERROR "add_setup_launcher(${name}): VERSION must read a.b.c.d: '${ARG_VERSION}'")
    endif()
    if(NOT ARG_OUTPUT_NAME)
        set(ARG_OUTPUT_NAME ${name})
    endif()

    if(SETUP_LAUNCHER_STAMP_NATIVE OR CMAKE_HOST_WIN32)
        set(runner "")
        set(drive "")
    else()
        # Under Wine a Linux path is reached through drive Z:.
        set(drive "Z:")
        if(DEFINED SETUP_LAUNCHER_RUNNER)
            set(runner ${SETUP_LAUNCHER_RUNNER})
        elseif(CMAKE_CROSSCOMPILING_EMULATOR)
            set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
        else()
            # Debian's wine64 package puts the loader outside PATH.
            find_program(SETUP_LAUNCHER_WINE NAMES wine64 wine PATHS /usr/lib/wine)
            if(NOT SETUP_LAUNCHER_WINE)
                message(FATAL_ERROR "add_setup_launcher(${name}): the stamping tool is a Windows program; install "
                                    "Wine or set SETUP_LAUNCHER_RUNNER")
            endif()
            set(runner ${SETUP_LAUNCHER_WINE})
        endif()
    endif()

    get_filename_component(payload "${ARG_PAYLOAD}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(stamp_arguments --payload "${drive}${payload}")
    set(depends "${payload}")
    if(ARG_ICON)
        get_filename_component(icon "${ARG_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        list(APPEND stamp_arguments --icon "${drive}${icon}")
        list(APPEND depends "${icon}")
    endif()
    if(ARG_VERSION)
        list(APPEND stamp_arguments --file-version ${ARG_VERSION} --product-version ${ARG_VERSION})
    endif()
    # The tool sets FileDescription from ProductName, and OriginalFilename from the file it writes.
    if(DEFINED ARG_PRODUCT_NAME)
        list(APPEND stamp_arguments --version-string "ProductName=${ARG_PRODUCT_NAME}")
    endif()
    if(DEFINED ARG_COMPANY_NAME)
        list(APPEND stamp_arguments --version-string "CompanyName=${ARG_COMPANY_NAME}")
    endif()
    foreach(pair IN LISTS ARG_VERSION_STRINGS)
        list(APPEND stamp_arguments --version-string "${pair}")
    endforeach()

    if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
        set(directory "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    else()
        set(directory "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    set(output "${directory}/${ARG_OUTPUT_NAME}.exe")
    set(stamped "${output}")
    set(signing_steps "")
    if(ARG_SIGN_COMMAND)
        set(work "${CMAKE_CURRENT_BINARY_DIR}/${name}-signing")
        set(stamped "${work}/unsigned/${ARG_OUTPUT_NAME}.exe")
        set(signed "${work}/${ARG_OUTPUT_NAME}.exe")
        if(ARG_SIGN_COMMAND MATCHES "<UNSIGNED>")
            set(prepare rm -f "${signed}")
        else()
            set(prepare copy "${stamped}" "${signed}")
        endif()
        string(REPLACE "<LAUNCHER>" "${signed}" sign_command "${ARG_SIGN_COMMAND}")
        string(REPLACE "<UNSIGNED>" "${stamped}" sign_command "${sign_command}")
        set(signing_steps COMMAND ${CMAKE_COMMAND} -E ${prepare}
                          COMMAND ${CMAKE_COMMAND} "-DSETUP_LAUNCHER_SIGNED=${ARG_OUTPUT_NAME}.exe"
                                  -P "${SETUP_LAUNCHER_SIGN_SCRIPT}" -- ${sign_command}
                          COMMAND ${CMAKE_COMMAND} -E rename "${signed}" "${output}")
    endif()
    get_filename_component(stamped_directory "${stamped}" DIRECTORY)
    add_custom_command(OUTPUT "${output}"
                       COMMAND ${CMAKE_COMMAND} -E make_directory "${directory}" "${stamped_directory}"
                       COMMAND ${runner} "${SETUP_LAUNCHER_STAMP}" ${stamp_arguments} --force
                               --output "${drive}${stamped}" "${drive}${SETUP_LAUNCHER_STUB}"
                       ${signing_steps}
                       DEPENDS ${depends} ${SETUP_LAUNCHER_DEPENDS}
                       COMMENT "Stamping ${ARG_OUTPUT_NAME}.exe" VERBATIM)
    add_custom_target(${name} ALL DEPENDS "${output}")
    set_target_properties(${name} PROPERTIES SETUP_LAUNCHER_FILE "${output}")
endfunction()
