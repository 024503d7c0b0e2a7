# Runs the signing command of add_setup_launcher() when the build gets to it:
#   cmake -DSETUP_LAUNCHER_SIGNED=NAME.exe -P SetupLauncherSign.cmake -- SIGNER ARGUMENT...
# Every <ENV:VARIABLE> in an argument becomes the variable's value from the build's environment at that
# moment, so that a secret reaches the signer without entering the build files. A failure says which signer
# failed and with what exit code, and never repeats the command line: it holds the secrets.

set(command_code "")
set(signer "")
set(after_separator FALSE)
math(EXPR last_index "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last_index})
    set(argument "${CMAKE_ARGV${index}}")
    if(NOT after_separator)
        if(argument STREQUAL "--")
            set(after_separator TRUE)
        endif()
        continue()
    endif()
    if(signer STREQUAL "")
        get_filename_component(signer "${argument}" NAME)
    endif()
    string(REGEX MATCHALL "<ENV:[A-Za-z_][A-Za-z0-9_]*>" references "${argument}")
    foreach(reference IN LISTS references)
        string(REGEX REPLACE "^<ENV:(.*)>$" "\\1" variable "${reference}")
        if(NOT DEFINED ENV{${variable}})
            message(FATAL_ERROR "signing ${SETUP_LAUNCHER_SIGNED}: ${signer} needs the environment variable "
                                "${variable}, which is not set")
        endif()
        string(REPLACE "${reference}" "$ENV{${variable}}" argument "${argument}")
    endforeach()
    # Each argument as a bracket argument, taken as it is: a list would split a secret at a semicolon and
    # read its backslashes. The brackets get as many "=" as it takes for their end to be the first one.
    set(equals "")
    string(LENGTH "${argument}" length)
    string(FIND "${argument}]${equals}]" "]${equals}]" end)
    while(NOT end EQUAL length)
        string(APPEND equals "=")
        string(FIND "${argument}]${equals}]" "]${equals}]" end)
    endwhile()
    string(APPEND command_code " [${equals}[${argument}]${equals}]")
endforeach()

cmake_language(EVAL CODE "execute_process(COMMAND ${command_code} RESULT_VARIABLE result)")
if(result MATCHES "^-?[0-9]+$" AND NOT result EQUAL 0)
    message(FATAL_ERROR "signing ${SETUP_LAUNCHER_SIGNED} failed: ${signer} exited with ${result}")
elseif(NOT result EQUAL 0)
    message(FATAL_ERROR "signing ${SETUP_LAUNCHER_SIGNED} failed: ${signer}: ${result}")
endif()
