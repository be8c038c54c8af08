# kb_folder_library(NAME DIR [DEPS ...] [TEST_DEPS ...])
#
# One library per folder: every *.cpp of DIR that is not a test goes into the static
# library NAME; the folder's *Test.cpp files form the test executable NAME_tests, each of
# whose tests is one ctest entry and which see DIR as KB_TEST_SOURCE_DIR (for data files).
# Files are globbed so that adding a file needs no CMake edit.
# Headers are included as "Folder/Header.h": from the source tree when building, from
# include/kestrelbay/ when the library is used from an installed SDK.
include(GoogleTest)

function(kb_folder_library name dir)
    cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    set(lib_sources "")
    set(test_sources "")
    foreach(src IN LISTS sources)
        if(src MATCHES "Test\\.cpp$")
            list(APPEND test_sources ${src})
        else()
            list(APPEND lib_sources ${src})
        endif()
    endforeach()

    set(include_dirs $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                     $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/kestrelbay>)
    if(lib_sources)
        add_library(${name} STATIC ${lib_sources})
        target_include_directories(${name} PUBLIC ${include_dirs})
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
        target_compile_features(${name} PUBLIC cxx_std_20)
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${include_dirs})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
        target_compile_features(${name} INTERFACE cxx_std_20)
    endif()

    if(KB_BUILD_TESTS AND test_sources)
        add_executable(${name}_tests ${test_sources})
        target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS} kb_testsupport
                              GTest::gmock GTest::gtest_main)
        # Where the tests' data files are, wherever the test runs from (__FILE__ may be
        # relative to the compiler's working folder).
        target_compile_definitions(${name}_tests PRIVATE KB_TEST_SOURCE_DIR="${dir}")
        kb_discover_tests(${name}_tests)
    endif()
endfunction()

# Tests that cannot share the machine with the others, as gtest filters; ctest runs them on
# their own. One pauses the system's polkitd; one stands in for journald on its fixed socket,
# which the helpers of other tests would log into.
set(KB_SERIAL_TESTS "Polkit.AnUnansweredOrUnreachablePolkitIsAnErrorWithinTheTimeOut"
                    "AuditTrail.RawFieldsAndAnEscapedMessageReachTheJournalSocket")

# kb_discover_tests(EXECUTABLE)
#
# Every test of the GoogleTest EXECUTABLE becomes its own ctest entry, so that ctest -j runs
# them side by side; the ones named in KB_SERIAL_TESTS run alone.
function(kb_discover_tests executable)
    string(REPLACE ";" ":" serial "${KB_SERIAL_TESTS}")
    gtest_discover_tests(${executable} DISCOVERY_MODE PRE_TEST TEST_FILTER "-${serial}"
                         PROPERTIES TIMEOUT 300)
    gtest_discover_tests(${executable} DISCOVERY_MODE PRE_TEST TEST_FILTER "${serial}"
                         PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endfunction()
