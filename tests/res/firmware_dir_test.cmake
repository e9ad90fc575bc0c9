# Runs the release-directory check (res/firmware_images.cmake) on directories made
# here: a complete release passes; a wrong-sized image and a missing image each
# stop it with a message naming the file. The same for the build step.
#   cmake -DCHECK_SCRIPT=<res/firmware_images.cmake> -DIMAGES_SCRIPT=<res/firmware_images.py>
#         -DPYTHON=<python3> -DWORK_DIR=<dir> -P firmware_dir_test.cmake
include(${CHECK_SCRIPT})

function(make_release dir)
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 id)
        list(GET parts 1 size)
        string(REPEAT "x" ${size} content)
        file(WRITE ${dir}/${id}.bin "${content}")
    endforeach()
endfunction()

# expect_check(<dir> <should-pass> <regex the output must match>)
function(expect_check dir should_pass pattern)
    execute_process(COMMAND ${CMAKE_COMMAND} -DORV_FIRMWARE_DIR=${dir} -P ${CHECK_SCRIPT}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    # CMake wraps long message lines; compare with the whitespace folded.
    string(REGEX REPLACE "[ \t\r\n]+" " " all "${out}${err}")
    if(should_pass AND NOT rc EQUAL 0)
        message(FATAL_ERROR "a complete release was refused:\n${all}")
    endif()
    if(NOT should_pass AND rc EQUAL 0)
        message(FATAL_ERROR "a bad release in ${dir} was accepted:\n${all}")
    endif()
    if(NOT all MATCHES "${pattern}")
        message(FATAL_ERROR "output does not match '${pattern}':\n${all}")
    endif()
endfunction()

set(release ${WORK_DIR}/release)
make_release(${release})
expect_check(${release} TRUE "all images have their sizes")

# One byte too many in the image that is sent: the check names file and sizes.
string(REPEAT "x" 97761 content)
file(WRITE ${release}/142.bin "${content}")
expect_check(${release} FALSE "142\\.bin: 97761 bytes, but image 142 must have 97760 bytes")

# Truncated to zero and missing, reported together.
make_release(${release})
file(WRITE ${release}/200.bin "")
file(REMOVE ${release}/119.bin)
expect_check(${release} FALSE "119\\.bin: missing.*200\\.bin: 0 bytes, but image 200 must have 63456 bytes")

expect_check(${WORK_DIR}/no-such-dir FALSE "is not a directory")

# The build step (firmware_images.py) checks again, for files changed after
# configuring: it copies a complete release and refuses a wrong-sized file.
make_release(${release})
execute_process(COMMAND ${PYTHON} ${IMAGES_SCRIPT} --out ${WORK_DIR}/out --source ${release} ${ORV_FIRMWARE_IMAGES}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
file(SIZE ${WORK_DIR}/out/142.bin copied)
if(NOT rc EQUAL 0 OR NOT copied EQUAL 97760)
    message(FATAL_ERROR "the build step did not take a complete release:\n${err}")
endif()
file(WRITE ${release}/142.bin "short")
execute_process(COMMAND ${PYTHON} ${IMAGES_SCRIPT} --out ${WORK_DIR}/out --source ${release} ${ORV_FIRMWARE_IMAGES}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "142\\.bin: 5 bytes, but image 142 must have 97760 bytes")
    message(FATAL_ERROR "the build step took a wrong-sized image (exit ${rc}):\n${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR}/out)
file(REMOVE_RECURSE ${release})
message(STATUS "release directory checks behave")
