# orv_add_listed_cases(<prefix> <problem> LIST <command...> RUN <command...>)
#
# One test per case of an end-to-end script whose table is the one list of its cases:
# LIST prints a line "NAME TIMEOUT_SECONDS" per case; each case becomes the test
# <prefix>.NAME, run as RUN followed by NAME, labelled <prefix>. A problem found before
# (a tool missing), a list that cannot be had or names no case, becomes one failing test
# <prefix>.list that says why: a missing list must never pass as no tests.
function(orv_add_listed_cases prefix problem)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "LIST;RUN")
    if(problem STREQUAL "")
        execute_process(COMMAND ${arg_LIST}
                        OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            set(problem "${arg_LIST} failed (${result}): ${errors}")
        elseif(listing STREQUAL "")
            set(problem "${arg_LIST} named no case")
        endif()
    endif()
    if(NOT problem STREQUAL "")
        add_test(NAME ${prefix}.list COMMAND ${CMAKE_COMMAND} -E echo "${problem}")
        set_tests_properties(${prefix}.list PROPERTIES WILL_FAIL TRUE LABELS ${prefix})
        return()
    endif()
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        if(line STREQUAL "")
            continue()
        endif()
        if(NOT line MATCHES "^([a-z0-9.-]+) ([0-9]+)$")
            message(FATAL_ERROR "${arg_LIST}: a line that is no case: \"${line}\"")
        endif()
        add_test(NAME ${prefix}.${CMAKE_MATCH_1} COMMAND ${arg_RUN} ${CMAKE_MATCH_1})
        set_tests_properties(${prefix}.${CMAKE_MATCH_1} PROPERTIES TIMEOUT ${CMAKE_MATCH_2} LABELS ${prefix})
    endforeach()
endfunction()
