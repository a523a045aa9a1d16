# RTVIEWER_COMMIT: the commit the build comes from, for the About window, or
# "unknown" outside a git checkout. It is read when CMake configures the build
# folder, so a folder that is only rebuilt after new commits keeps the commit
# it was configured at; scripts/package.sh configures every time.
set(RTVIEWER_COMMIT unknown)
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE git_commit
        RESULT_VARIABLE git_result
        OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
    if(git_result EQUAL 0 AND git_commit)
        set(RTVIEWER_COMMIT ${git_commit})
    endif()
endif()
