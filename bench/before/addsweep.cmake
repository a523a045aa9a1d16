# Given to an earlier tree's configure as CMAKE_PROJECT_INCLUDE by
# bench/run.sh --before (with RTVIEWER_BENCH off, so that tree's own
# benchmarks stay out): once that tree's top folder is read to its end,
# where its rtcore library is known, adds this tree's whole-window drivers
# bench_window and bench_sweep built against it, with
# treewindow_397f4af.cpp in place of treewindow.cpp. Nothing of this tree's
# own build uses this folder.
include_guard(GLOBAL)
set(RTVIEWER_DRIVERS_BEFORE_DIR ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(RTVIEWER_DRIVERS_SOURCE ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
find_package(Threads REQUIRED)

function(rtviewer_add_bench_drivers)
    set(src ${RTVIEWER_DRIVERS_SOURCE})
    # The parts of this tree's test support the drivers use, compiled
    # against the earlier tree; compat/ gives its headers the places they
    # have in this tree.
    set(support ${src}/../tests/support)
    add_executable(bench_window ${src}/bench_window.cpp ${src}/samplestream.cpp
        ${support}/fakesocket.cpp ${support}/packets.cpp
        ${src}/treewindow.h ${RTVIEWER_DRIVERS_BEFORE_DIR}/treewindow_397f4af.cpp)
    add_executable(bench_sweep ${src}/bench_sweep.cpp ${support}/files.cpp ${support}/sockets.cpp
        ${support}/texts.cpp
        ${src}/treewindow.h ${RTVIEWER_DRIVERS_BEFORE_DIR}/treewindow_397f4af.cpp)
    foreach(driver bench_window bench_sweep)
        target_include_directories(${driver} PRIVATE ${src} ${src}/../tests ${RTVIEWER_DRIVERS_BEFORE_DIR}/compat)
        target_link_libraries(${driver} PRIVATE rtcore Threads::Threads)
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL rtviewer_add_bench_drivers)
