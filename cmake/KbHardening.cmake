# The distribution's baseline hardening (compare `dpkg-buildflags`), on for every target:
# stack protector, fortified libc calls in optimised builds, position-independent
# executables, full RELRO with immediate binding, format-string checks.
#
# KB_WERROR turns warnings into errors. It is off by default so that a newer compiler's new
# warnings do not break a user's build; scripts/test.sh and CI switch it on.
option(KB_HARDENING "Build with stack protector, _FORTIFY_SOURCE, PIE and full RELRO" ON)
option(KB_WERROR "Treat compiler warnings as errors" OFF)

if(KB_WERROR)
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
endif()

if(KB_HARDENING)
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES C CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    add_compile_options(
        $<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>
        $<$<COMPILE_LANGUAGE:C,CXX>:-Wformat>
        $<$<COMPILE_LANGUAGE:C,CXX>:-Werror=format-security>)
    # _FORTIFY_SOURCE needs the optimiser; sanitizer builds leave it out, because fortified
    # calls bypass the sanitizers' interceptors.
    if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
        add_compile_options(
            "$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    endif()
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
