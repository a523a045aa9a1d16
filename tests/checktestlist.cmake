# Run by the test "test_list" (cmake -P): the written-out list of
# tests/CMakeLists.txt against what is there, so that the list cannot drift.
#   - every tests/tst_*.cpp is listed, and every listed test has its file;
#   - every split test's functions are those its program reports
#     (QtTest's -functions), no more and no fewer.
# TEST_SOURCES is the tests folder, TEST_LIST the list as the build wrote it.
cmake_minimum_required(VERSION 3.16)
include(${TEST_LIST})
set(faults)

file(GLOB sources RELATIVE ${TEST_SOURCES} ${TEST_SOURCES}/tst_*.cpp)
set(present)
foreach(source IN LISTS sources)
    string(REGEX REPLACE "\\.cpp$" "" name ${source})
    list(APPEND present ${name})
    if(NOT name IN_LIST RTVIEWER_TESTS_LISTED)
        list(APPEND faults "tests/${source} is not listed in tests/CMakeLists.txt")
    endif()
endforeach()
foreach(name IN LISTS RTVIEWER_TESTS_LISTED)
    if(NOT name IN_LIST present)
        list(APPEND faults "${name} is listed in tests/CMakeLists.txt but tests/${name}.cpp is missing")
    endif()
endforeach()

foreach(name IN LISTS RTVIEWER_TESTS_SPLIT)
    execute_process(COMMAND ${RTVIEWER_TEST_PROGRAM_${name}} -functions
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
        list(APPEND faults "${name} -functions failed (${status}): ${errors}")
        continue()
    endif()
    # One "function()" a line.
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" reported "${output}")
    list(TRANSFORM reported REPLACE "\\(\\)$" "")
    foreach(function IN LISTS reported)
        if(NOT function IN_LIST RTVIEWER_TEST_FUNCTIONS_${name})
            list(APPEND faults "${name}: the function ${function} is missing from its FUNCTIONS in tests/CMakeLists.txt")
        endif()
    endforeach()
    foreach(function IN LISTS RTVIEWER_TEST_FUNCTIONS_${name})
        if(NOT function IN_LIST reported)
            list(APPEND faults "${name}: FUNCTIONS in tests/CMakeLists.txt names ${function}, which the program does not have")
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "The test list and the tests differ:\n  ${text}")
endif()
list(LENGTH RTVIEWER_TESTS_LISTED count)
message(STATUS "${count} tests listed, each with its file; the split tests' functions match their programs")
