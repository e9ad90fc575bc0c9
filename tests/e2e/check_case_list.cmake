# Every case in the driver's tables must have its ctest entry: compares the driver's own
# list (e2e_driver --list) with the English case list the tests are made from.
execute_process(COMMAND ${EMULATOR} ${DRIVER} --list
                OUTPUT_VARIABLE listed RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "e2e_driver --list failed (${result})")
endif()
string(REGEX REPLACE "[\r\n]+" ";" listed "${listed}")
list(REMOVE_ITEM listed "")
string(REPLACE "," ";" expected "${EXPECTED}")
if(NOT listed STREQUAL expected)
    message(FATAL_ERROR "the driver's cases\n  ${listed}\ndiffer from the tests'\n  ${expected}")
endif()
