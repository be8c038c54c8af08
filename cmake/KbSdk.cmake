# The SDK an application builds against: the public headers of HelperProtocol and
# CleanerCore (and the platform headers they include) under include/kestrelbay/, the static
# libraries those two need, the CMake package KestrelBay and kestrelbay.pc. All of it is
# the "dev" install component.
#
# Static libraries only: the C++ interface passes standard-library and Boost.JSON types
# and inline templates by value, so no binary compatibility between versions could be
# promised, which a shared library's SONAME would promise. An application links the
# version it was built against.
include(CMakePackageConfigHelpers)

set(KB_SDK_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kestrelbay)
set(KB_SDK_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestrelBay)

# Every library of this project that the SDK's two libraries link, themselves included,
# in link order (a library before the ones it needs).
function(kb_link_closure out)
    set(order "")
    set(visiting "")
    macro(kb_visit target)
        if(TARGET ${target} AND NOT ${target} IN_LIST order AND NOT ${target} IN_LIST visiting)
            get_target_property(imported ${target} IMPORTED)
            if(NOT imported)
                list(APPEND visiting ${target})
                get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
                if(deps)
                    foreach(dep IN LISTS deps)
                        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
                        kb_visit(${dep})
                    endforeach()
                endif()
                list(PREPEND order ${target})
            endif()
        endif()
    endmacro()
    foreach(root IN LISTS ARGN)
        kb_visit(${root})
    endforeach()
    set(${out} ${order} PARENT_SCOPE)
endfunction()

# The headers named (relative to the source tree) plus every project header they include.
function(kb_header_closure out)
    set(queue ${ARGN})
    set(seen "")
    while(queue)
        list(POP_FRONT queue header)
        if(header IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${header})
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                     ${PROJECT_SOURCE_DIR}/${header})
        file(STRINGS ${PROJECT_SOURCE_DIR}/${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
            if(EXISTS ${PROJECT_SOURCE_DIR}/${included})
                list(APPEND queue ${included})
            endif()
        endforeach()
    endwhile()
    list(SORT seen)
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

kb_link_closure(kb_sdk_targets HelperProtocol CleanerCore)
foreach(target IN LISTS kb_sdk_targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
        # Installed next to the distribution's libraries: names that cannot clash.
        set_target_properties(${target} PROPERTIES OUTPUT_NAME kestrelbay_${target})
    endif()
endforeach()
install(TARGETS ${kb_sdk_targets} EXPORT KestrelBayTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        INCLUDES DESTINATION ${KB_SDK_INCLUDEDIR})

file(GLOB_RECURSE kb_sdk_roots CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
     ${PROJECT_SOURCE_DIR}/HelperProtocol/*.h ${PROJECT_SOURCE_DIR}/CleanerCore/*.h)
kb_header_closure(kb_sdk_headers ${kb_sdk_roots})
foreach(header IN LISTS kb_sdk_headers)
    get_filename_component(header_dir ${header} DIRECTORY)
    install(FILES ${header} DESTINATION ${KB_SDK_INCLUDEDIR}/${header_dir} COMPONENT dev)
endforeach()

install(EXPORT KestrelBayTargets NAMESPACE KestrelBay:: DESTINATION ${KB_SDK_CMAKEDIR}
        COMPONENT dev)
configure_package_config_file(cmake/KestrelBayConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/KestrelBayConfig.cmake INSTALL_DESTINATION ${KB_SDK_CMAKEDIR})
# 0.x: a minor version may change the interface.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KestrelBayConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KestrelBayConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/KestrelBayConfigVersion.cmake
        DESTINATION ${KB_SDK_CMAKEDIR} COMPONENT dev)

# kestrelbay.pc: the archives in link order, then what they need.
set(KB_PC_LIBS "")
foreach(target IN LISTS kb_sdk_targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
        string(APPEND KB_PC_LIBS " -lkestrelbay_${target}")
    endif()
endforeach()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(KB_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
    set(KB_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
configure_file(cmake/kestrelbay.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kestrelbay.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestrelbay.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
