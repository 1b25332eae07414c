# pelmora_add_test(<name> SOURCES <files...> LIBS <libraries...>)
# One Qt Test program, run by CTest on the offscreen platform.
function(pelmora_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test pelmora_testsupport ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        # One collation locale for every run, whatever the machine's: names order the same.
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PELMORA_TEST_BINARY_DIR=${CMAKE_BINARY_DIR};LC_ALL=C.UTF-8"
        TIMEOUT ${ARG_TIMEOUT})
endfunction()
