# kb_folder_library(NAME DIR [DEPS ...] [TEST_DEPS ...])
#
# One library per folder: every *.cpp of DIR that is not a test goes into the static
# library NAME; the folder's *Test.cpp files form the test executable NAME_tests, which
# ctest runs as one test. Files are globbed so that adding a file needs no CMake edit.
# Headers are included as "Folder/Header.h": from the source tree when building, from
# include/kestrelbay/ when the library is used from an installed SDK.
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
        add_test(NAME ${name} COMMAND ${name}_tests)
        set_tests_properties(${name} PROPERTIES TIMEOUT 900)
    endif()
endfunction()
