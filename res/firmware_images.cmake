# The firmware images the program carries: resource id and exact size in bytes.
# Included by res/CMakeLists.txt; also runs on its own as a check of a release
# directory:  cmake -DORV_FIRMWARE_DIR=<dir> -P res/firmware_images.cmake
set(ORV_FIRMWARE_IMAGES
    119:98304 120:36032 122:62848 124:65792 125:65792 126:23552 127:23552 128:23552
    130:23552 131:121856 132:121856 133:121856 140:97808 141:97760 142:97760 143:58224
    145:76224 146:97744 147:76320 148:97744 151:98304 152:64784 153:77088 154:86448
    155:86480 156:48000 157:98304 158:98304 159:64752 160:38480 170:57136 171:56528
    172:98304 173:98304 174:98304 175:96720 176:96736 177:96720 178:98304 179:98304
    200:63456)

# Stops with FATAL_ERROR unless <dir> holds <id>.bin of the listed size for every
# image, each listed in <dir>/SHA256SUMS (as sha256sum writes it) with its own
# SHA-256. The sizes catch a wrong release early; the sums catch an image that
# was damaged or swapped for another of the same size. All problems are reported
# together so one run shows the whole release. res/firmware_images.py checks the
# same at build time; keep the two in step.
function(orv_check_firmware_dir dir)
    if(NOT IS_DIRECTORY "${dir}")
        message(FATAL_ERROR "ORV_FIRMWARE_DIR: '${dir}' is not a directory")
    endif()
    set(problems "")

    # SHA256SUMS: "<64 hex digits>  <name>", or " *<name>" as written in binary
    # mode. Only the images' lines are kept (as sum_<id>); other files may be listed.
    set(sums_file "${dir}/SHA256SUMS")
    set(have_sums FALSE)
    if(NOT EXISTS "${sums_file}" OR IS_DIRECTORY "${sums_file}")
        string(APPEND problems "\n  SHA256SUMS: missing; make it in the release folder with:"
                               " sha256sum *.bin > SHA256SUMS")
    else()
        set(have_sums TRUE)
        file(READ "${sums_file}" text)  # reads CRLF line ends as LF
        set(line_no 0)
        # Walked with FIND rather than as a list, so a ';' in a line cannot split
        # it and shift the line numbers in the messages.
        while(NOT text STREQUAL "")
            math(EXPR line_no "${line_no} + 1")
            string(FIND "${text}" "\n" eol)
            if(eol EQUAL -1)
                set(line "${text}")
                set(text "")
            else()
                string(SUBSTRING "${text}" 0 ${eol} line)
                math(EXPR eol "${eol} + 1")
                string(SUBSTRING "${text}" ${eol} -1 text)
            endif()
            string(STRIP "${line}" stripped)
            if(stripped STREQUAL "")
                continue()
            endif()
            set(hash "")
            if(line MATCHES "^([0-9a-fA-F]+) [ *](.+)$")
                set(hash "${CMAKE_MATCH_1}")
                set(name "${CMAKE_MATCH_2}")
                string(LENGTH "${hash}" hash_length)
                if(NOT hash_length EQUAL 64)
                    set(hash "")
                endif()
            endif()
            if(hash STREQUAL "")
                string(APPEND problems "\n  SHA256SUMS line ${line_no}: not a checksum line;"
                                       " each line must be '<64 hex digits>  <file name>'")
            elseif(name MATCHES "^([0-9]+)\\.bin$")
                set(id "${CMAKE_MATCH_1}")
                if(DEFINED sum_${id})
                    string(APPEND problems
                        "\n  SHA256SUMS line ${line_no}: ${name} is listed a second time")
                else()
                    string(TOLOWER "${hash}" sum_${id})
                endif()
            endif()
        endwhile()
    endif()

    foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 id)
        list(GET parts 1 expected)
        set(file "${dir}/${id}.bin")
        if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
            string(APPEND problems "\n  ${id}.bin: missing")
            continue()
        endif()
        file(SIZE "${file}" actual)
        set(size_ok TRUE)
        if(NOT actual EQUAL expected)
            set(size_ok FALSE)
            string(APPEND problems
                "\n  ${id}.bin: ${actual} bytes, but image ${id} must have ${expected} bytes")
        endif()
        if(have_sums AND NOT DEFINED sum_${id})
            string(APPEND problems "\n  ${id}.bin: not listed in SHA256SUMS")
        elseif(have_sums AND size_ok)
            # A wrong size already says the file is wrong; its sum adds nothing.
            file(SHA256 "${file}" actual_sum)
            if(NOT actual_sum STREQUAL "${sum_${id}}")
                string(APPEND problems "\n  ${id}.bin: SHA-256 differs from SHA256SUMS")
            endif()
        endif()
    endforeach()
    if(problems)
        message(FATAL_ERROR
            "ORV_FIRMWARE_DIR '${dir}' does not hold the firmware release:${problems}")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT DEFINED ORV_FIRMWARE_DIR OR ORV_FIRMWARE_DIR STREQUAL "")
        message(FATAL_ERROR "usage: cmake -DORV_FIRMWARE_DIR=<dir> -P ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    orv_check_firmware_dir("${ORV_FIRMWARE_DIR}")
    message(STATUS "ORV_FIRMWARE_DIR '${ORV_FIRMWARE_DIR}': all images have their sizes and match SHA256SUMS")
endif()
