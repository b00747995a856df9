# Version, build number and the commit the tree was configured from, for the about section.
find_package(Git QUIET)
set(TOLVARINE_GIT_COMMIT "")
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE TOLVARINE_GIT_COMMIT
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/BuildInfoGenerated.h.in
    ${CMAKE_BINARY_DIR}/generated/BuildInfoGenerated.h @ONLY)
