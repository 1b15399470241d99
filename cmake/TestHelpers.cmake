# ts_add_test(NAME SOURCES files... LIBS targets...)
# One Qt Test executable registered with CTest. Every test runs without a display and
# gets no service root of its own from here: tests create a temporary root themselves
# (see testsupport/TemporaryServiceRoot.h) so that no test can reach a real user's service.
# Clients host the service core in-process (TASKSCHEDULER_TRANSPORT=inprocess); the tests of
# the daemon itself select its socket again. Other computers are unknown to ssh (a stand-in that
# fails as without a network), unless a test sets up its own.
function(ts_add_test name)
    if(NOT TS_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ts_testsupport ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TASKSCHEDULER_HOME=${CMAKE_BINARY_DIR}/no-such-root-tests-must-make-their-own;TASKSCHEDULER_TRANSPORT=inprocess;TASKSCHEDULER_SSH=/bin/sh ${CMAKE_SOURCE_DIR}/testsupport/ssh-without-network.sh;LC_ALL=C.UTF-8")
endfunction()
