# Run by ctest when it starts, through the e2e_cases.cmake the build writes (it sets the
# E2E_* paths): asks e2e_driver for its cases and adds a test per case and language, so
# that the driver's tables are the one list of the cases. When the driver cannot say, a
# single failing test says why instead: a missing list must never pass as no tests.
# ctest reads its files with the oldest policies; this one is written for the project's.
cmake_policy(VERSION 3.25)

# The languages, in the order their tests run, and the locale that brings each to Wine.
set(e2e_languages en de)
set(e2e_locale_en en_US.UTF-8)
set(e2e_locale_de de_DE.UTF-8)

execute_process(COMMAND ${E2E_EMULATOR} ${E2E_DRIVER} --list
                OUTPUT_VARIABLE e2e_listing ERROR_VARIABLE e2e_errors RESULT_VARIABLE e2e_result
                TIMEOUT 300)
set(e2e_problem "")
set(e2e_cases "")
if(NOT e2e_result EQUAL 0)
    string(STRIP "${e2e_errors}" e2e_errors)
    set(e2e_problem "the driver could not be run (${e2e_result}): ${e2e_errors}")
else()
    string(REPLACE "\r" "" e2e_listing "${e2e_listing}")
    string(REPLACE "\n" ";" e2e_lines "${e2e_listing}")
    foreach(e2e_line IN LISTS e2e_lines)
        if(e2e_line STREQUAL "")
            continue()
        endif()
        # NAME LANGUAGES TIMEOUT SKIP, as e2e_driver.cpp describes them.
        if(NOT e2e_line MATCHES "^([a-z0-9-]+) ([a-z,]+) ([0-9]+) ([0-9]+)$")
            set(e2e_problem "a line that is no case: \"${e2e_line}\"")
            break()
        endif()
        set(e2e_case ${CMAKE_MATCH_1})
        string(REPLACE "," ";" e2e_in_${e2e_case} "${CMAKE_MATCH_2}")
        set(e2e_timeout_${e2e_case} ${CMAKE_MATCH_3})
        set(e2e_skip_${e2e_case} ${CMAKE_MATCH_4})
        foreach(e2e_language IN LISTS e2e_in_${e2e_case})
            if(NOT e2e_language IN_LIST e2e_languages)
                set(e2e_problem "case ${e2e_case} is in the unknown language \"${e2e_language}\"")
            endif()
        endforeach()
        list(APPEND e2e_cases ${e2e_case})
    endforeach()
    if(e2e_problem STREQUAL "" AND e2e_cases STREQUAL "")
        set(e2e_problem "it named no case")
    endif()
endif()

if(NOT e2e_problem STREQUAL "")
    # A test that fails and prints why.
    add_test(e2e.list "${E2E_CMAKE}" -E echo "${E2E_DRIVER} --list: ${e2e_problem}")
    set_tests_properties(e2e.list PROPERTIES WILL_FAIL TRUE LABELS e2e
                         WORKING_DIRECTORY "${E2E_WORKING_DIRECTORY}")
    return()
endif()

foreach(e2e_language IN LISTS e2e_languages)
    foreach(e2e_case IN LISTS e2e_cases)
        if(NOT e2e_language IN_LIST e2e_in_${e2e_case})
            continue()
        endif()
        set(e2e_name e2e.${e2e_language}.${e2e_case})
        add_test(${e2e_name} ${E2E_EMULATOR} "${E2E_DRIVER}" --lang ${e2e_language}
                 --sim "${E2E_SIM}" --product "${E2E_PRODUCT}" ${E2E_FIRMWARE_ARGS} ${e2e_case})
        set_tests_properties(${e2e_name} PROPERTIES
            ENVIRONMENT "LC_ALL=${e2e_locale_${e2e_language}}"
            TIMEOUT ${e2e_timeout_${e2e_case}}
            SKIP_RETURN_CODE ${e2e_skip_${e2e_case}}
            LABELS e2e
            WORKING_DIRECTORY "${E2E_WORKING_DIRECTORY}")
    endforeach()
endforeach()
