# Makes one compressed manual page from a program's own --help and --version texts, so the
# page cannot drift from the program. Run with cmake -P and these variables:
#   HELP2MAN, GZIP   the tools
#   PROGRAM          the built program
#   SUMMARY          the one line of the NAME section
#   INCLUDE          a help2man include file with the hand-written sections
#   COMMANDS         when true, a COMMANDS section carries the --help text of every
#                    command that "PROGRAM --help" lists
#   OUTPUT           the page to write (.1.gz)

cmake_minimum_required(VERSION 3.25)

get_filename_component(directory "${PROGRAM}" DIRECTORY)
get_filename_component(name "${PROGRAM}" NAME)
# The programs must answer without a display, also in a sanitizer build.
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{ASAN_OPTIONS} detect_leaks=0)
set(ENV{TSAN_OPTIONS} ignore_noninstrumented_modules=1)
set(ENV{LC_ALL} C)

set(includes --include "${INCLUDE}")
if(COMMANDS)
    execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE overview RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${name} --help failed: ${status}")
    endif()
    # The command names: the first word of each line under "Commands:", up to the blank line.
    string(REGEX MATCH "\nCommands:\n([^\n]+\n)+" listing "${overview}")
    string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${listing}")
    set(section "[COMMANDS]\n")
    foreach(entry IN LISTS names)
        string(STRIP "${entry}" command)
        if(command STREQUAL "help")
            continue()
        endif()
        execute_process(COMMAND "${PROGRAM}" ${command} --help OUTPUT_VARIABLE text
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${name} ${command} --help failed: ${status}")
        endif()
        # Shown as it is on a terminal: no filling, roff's escape and control characters
        # made harmless.
        string(REPLACE "\\" "\\e" text "${text}")
        string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
        string(APPEND section ".SS \"${name} ${command}\"\n.nf\n${text}.fi\n")
    endforeach()
    set(commands_file "${OUTPUT}.commands.h2m")
    file(WRITE "${commands_file}" "${section}")
    list(APPEND includes --include "${commands_file}")
endif()

# help2man runs the program through the shell unquoted: run it from its own folder so that a
# build folder with spaces in its path does no harm.
get_filename_component(page "${OUTPUT}" NAME_WLE)
set(plain "${OUTPUT}.tmp")
execute_process(
    COMMAND "${HELP2MAN}" --no-info --section 1 --name "${SUMMARY}" ${includes}
            --output "${plain}" "./${name}"
    WORKING_DIRECTORY "${directory}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed for ${name}: ${status}")
endif()
# Compressed as Debian wants it: the best compression, no name or time stamp inside.
execute_process(COMMAND "${GZIP}" -9 -n -c "${plain}" OUTPUT_FILE "${OUTPUT}"
                RESULT_VARIABLE status)
file(REMOVE "${plain}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed for ${page}: ${status}")
endif()
