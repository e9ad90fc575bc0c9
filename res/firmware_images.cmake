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
# image. All problems are reported together so one run shows the whole release.
function(orv_check_firmware_dir dir)
    if(NOT IS_DIRECTORY "${dir}")
        message(FATAL_ERROR "ORV_FIRMWARE_DIR: '${dir}' is not a directory")
    endif()
    set(problems "")
    foreach(entry IN LISTS ORV_FIRMWARE_IMAGES)
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 id)
        list(GET parts 1 expected)
        set(file "${dir}/${id}.bin")
        if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
            string(APPEND problems "\n  ${id}.bin: missing")
        else()
            file(SIZE "${file}" actual)
            if(NOT actual EQUAL expected)
                string(APPEND problems
                    "\n  ${id}.bin: ${actual} bytes, but image ${id} must have ${expected} bytes")
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
    message(STATUS "ORV_FIRMWARE_DIR '${ORV_FIRMWARE_DIR}': all images have their sizes")
endif()
