# Runs the release-folder check on folders made here, in both places it runs: at
# configure time (res/firmware_images.cmake) and in the build step
# (res/firmware_images.py, for files changed after configuring). A complete release
# passes and is copied unchanged; each fault stops both with a message naming the
# file at fault and no other image.
#   cmake -DCHECK_SCRIPT=<res/firmware_images.cmake> -DIMAGES_SCRIPT=<res/firmware_images.py>
#         -DPYTHON=<python3> -DWORK_DIR=<dir> -P firmware_dir_test.cmake
include(${CHECK_SCRIPT})

set(release ${WORK_DIR}/release)

# The bytes of image <id> in the releases made here: "<id>." repeated, so images of
# the same size still differ and a swapped pair is caught by its sums.
function(image_content id size out_var)
    math(EXPR units "${size} / 4")
    string(REPEAT "${id}." ${units} content)
    set(${out_var} "${content}" PARENT_SCOPE)
endfunction()

# The images, made once; each release below starts as a copy of them.
set(pristine ${WORK_DIR}/images)
file(REMOVE_RECURSE ${pristine})
foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 id)
    list(GET parts 1 size)
    image_content(${id} ${size} content)
    file(WRITE ${pristine}/${id}.bin "${content}")
    string(SHA256 sum_${id} "${content}")
endforeach()
file(WRITE ${pristine}/notes.txt "release notes\n")
file(SHA256 ${pristine}/notes.txt sum_notes)

# make_release(<dir> [OMIT <id>] [EXTRA <line>]): every image, a notes file, and
# SHA256SUMS in the forms the usual tools write: line 1 lists the notes file (no
# image, allowed), line 2 is blank, then the images, 119 in binary mode
# ("<sum> *119.bin") and 120 with an upper-case digest. OMIT leaves one image's line
# out; EXTRA is put in as line 3.
function(make_release dir)
    cmake_parse_arguments(arg "" "OMIT;EXTRA" "" ${ARGN})
    file(REMOVE_RECURSE ${dir})
    file(COPY ${pristine}/ DESTINATION ${dir})
    set(sums "${sum_notes}  notes.txt\n\n")
    if(DEFINED arg_EXTRA)
        string(APPEND sums "${arg_EXTRA}\n")
    endif()
    foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 id)
        set(sum "${sum_${id}}")
        if(id STREQUAL "${arg_OMIT}")
            continue()
        elseif(id EQUAL 119)
            string(APPEND sums "${sum} *${id}.bin\n")
        elseif(id EQUAL 120)
            string(TOUPPER "${sum}" sum)
            string(APPEND sums "${sum}  ${id}.bin\n")
        else()
            string(APPEND sums "${sum}  ${id}.bin\n")
        endif()
    endforeach()
    file(WRITE ${dir}/SHA256SUMS "${sums}")
endfunction()

# run_check(<configure|build> <dir> <rc var> <output var>)
function(run_check step dir rc_var out_var)
    if(step STREQUAL "configure")
        execute_process(COMMAND ${CMAKE_COMMAND} -DORV_FIRMWARE_DIR=${dir} -P ${CHECK_SCRIPT}
                        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    else()
        file(REMOVE_RECURSE ${WORK_DIR}/out)
        execute_process(COMMAND ${PYTHON} ${IMAGES_SCRIPT} --out ${WORK_DIR}/out --source ${dir}
                                ${ORV_FIRMWARE_IMAGES}
                        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    endif()
    # CMake wraps long message lines; compare with the whitespace folded.
    string(REGEX REPLACE "[ \t\r\n]+" " " all "${out}${err}")
    set(${rc_var} "${rc}" PARENT_SCOPE)
    set(${out_var} "${all}" PARENT_SCOPE)
endfunction()

# expect_accepted(<what>): both steps take ${release}; the build step copies every
# image unchanged.
function(expect_accepted what)
    run_check(configure ${release} rc all)
    if(NOT rc EQUAL 0 OR NOT all MATCHES "all images have their sizes and match SHA256SUMS")
        message(FATAL_ERROR "${what}: the configure check refused a complete release:\n${all}")
    endif()
    run_check(build ${release} rc all)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${what}: the build step refused a complete release:\n${all}")
    endif()
    foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 id)
        file(SHA256 ${release}/${id}.bin want)
        set(got "")
        if(EXISTS ${WORK_DIR}/out/${id}.bin)
            file(SHA256 ${WORK_DIR}/out/${id}.bin got)
        endif()
        if(NOT got STREQUAL want)
            message(FATAL_ERROR "${what}: the build step did not copy ${id}.bin unchanged")
        endif()
    endforeach()
endfunction()

# expect_refused(<what> <dir> <regex> [<file>...]): both steps stop, their output
# matches <regex> and names exactly the images listed, no other.
function(expect_refused what dir pattern)
    set(want_named ${ARGN})
    list(SORT want_named)
    foreach(step configure build)
        run_check(${step} ${dir} rc all)
        if(rc EQUAL 0)
            message(FATAL_ERROR "${what}: the ${step} step accepted the bad release in ${dir}:\n${all}")
        endif()
        if(NOT all MATCHES "${pattern}")
            message(FATAL_ERROR "${what}: the ${step} step's output does not match '${pattern}':\n${all}")
        endif()
        string(REGEX MATCHALL "[0-9]+\\.bin" named "${all}")
        if(named)
            list(REMOVE_DUPLICATES named)
            list(SORT named)
        endif()
        if(NOT "${named}" STREQUAL "${want_named}")
            message(FATAL_ERROR
                "${what}: the ${step} step names '${named}', not '${want_named}':\n${all}")
        endif()
    endforeach()
endfunction()

make_release(${release})
expect_accepted("complete release")

# Written on Windows: CRLF line ends.
file(READ ${release}/SHA256SUMS sums)
string(REPLACE "\n" "\r\n" sums "${sums}")
file(WRITE ${release}/SHA256SUMS "${sums}")
expect_accepted("SHA256SUMS with CRLF line ends")

# One byte too many in the image that is sent: the check names file and sizes.
make_release(${release})
image_content(142 97760 content)
file(WRITE ${release}/142.bin "${content}x")
expect_refused("image one byte too long" ${release}
               "142\\.bin: 97761 bytes, but image 142 must have 97760 bytes" 142.bin)

file(WRITE ${release}/142.bin "short")
expect_refused("image cut short" ${release}
               "142\\.bin: 5 bytes, but image 142 must have 97760 bytes" 142.bin)

# Truncated to zero and missing, reported together.
make_release(${release})
file(WRITE ${release}/200.bin "")
file(REMOVE ${release}/119.bin)
expect_refused("image missing, another empty" ${release}
               "119\\.bin: missing.*200\\.bin: 0 bytes, but image 200 must have 63456 bytes"
               119.bin 200.bin)

expect_refused("no folder" ${WORK_DIR}/no-such-dir "is not a directory")

# The right size but other bytes: image 141 (the same size) in place of 142.
make_release(${release})
image_content(141 97760 content)
file(WRITE ${release}/142.bin "${content}")
expect_refused("image swapped for one of the same size" ${release}
               "142\\.bin: SHA-256 differs from SHA256SUMS" 142.bin)

# Without SHA256SUMS the sizes are still checked, and the message says how to make it.
make_release(${release})
file(REMOVE ${release}/SHA256SUMS)
file(WRITE ${release}/200.bin "")
expect_refused("no SHA256SUMS" ${release}
               "SHA256SUMS: missing; make it in the release folder with: sha256sum \\*\\.bin > SHA256SUMS.*200\\.bin: 0 bytes"
               200.bin)

make_release(${release} OMIT 142)
expect_refused("image not in SHA256SUMS" ${release} "142\\.bin: not listed in SHA256SUMS" 142.bin)

# A second line for an image: the first (line 3) carries another image's sum; the
# image's own line, 18, is the one reported.
make_release(${release} EXTRA "${sum_141}  142.bin")
expect_refused("image listed twice" ${release}
               "SHA256SUMS line 18: 142\\.bin is listed a second time" 142.bin)

string(REPEAT "a" 64 hex64)
string(REPEAT "a" 63 hex63)
string(REPEAT "g" 64 nonhex64)
foreach(bad_line
        "${hex63}  notes.txt"              # digest one digit short
        "${nonhex64}  notes.txt"           # not hexadecimal
        "${hex64} 142.bin"                 # one space: neither text nor binary mode
        "${hex64}"                         # no file name
        "SHA256 (142.bin) = ${hex64}")     # the BSD tag form
    make_release(${release} EXTRA "${bad_line}")
    expect_refused("malformed line '${bad_line}'" ${release}
                   "SHA256SUMS line 3: not a checksum line; each line must be '<64 hex digits> <file name>'")
endforeach()

file(REMOVE_RECURSE ${WORK_DIR}/out ${release} ${pristine})
message(STATUS "release folder checks behave")
