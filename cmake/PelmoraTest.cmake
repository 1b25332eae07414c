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
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PELMORA_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}"
        TIMEOUT ${ARG_TIMEOUT})
endfunction()
