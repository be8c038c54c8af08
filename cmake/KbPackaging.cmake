# Debian packages with CPack (scripts/package.sh runs `cpack -G DEB`):
#   kestrelbay-helper   the "helper" component: helper, client, units, sysusers and polkit
#                       files, manual pages, docs, and whatever else installs by default
#   libkestrelbay-dev   the "dev" component: the SDK
set(KB_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)

# The changelog's newest entry names the version being packaged.
file(STRINGS ${KB_DEB_DIR}/changelog kb_changelog_head LIMIT_COUNT 1)
if(NOT kb_changelog_head MATCHES "^kestrelbay \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()

# Every package carries its copyright and its changelog in /usr/share/doc/PACKAGE.
foreach(package IN ITEMS kestrelbay-helper libkestrelbay-dev)
    if(package STREQUAL "kestrelbay-helper")
        set(component helper)
    else()
        set(component dev)
    endif()
    set(changelog ${CMAKE_CURRENT_BINARY_DIR}/deb/${package}/changelog.gz)
    add_custom_command(OUTPUT ${changelog}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/deb/${package}
        COMMAND sh -c "gzip -n -9 < '${KB_DEB_DIR}/changelog' > '${changelog}'"
        DEPENDS ${KB_DEB_DIR}/changelog VERBATIM)
    add_custom_target(changelog-${package} ALL DEPENDS ${changelog})
    install(FILES ${KB_DEB_DIR}/copyright ${changelog}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME kestrelbay)
set(CPACK_PACKAGE_VENDOR "Kestrel Bay")
set(CPACK_PACKAGE_CONTACT "Kestrel Bay <packages@kestrelbay.dev>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL helper dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_HELPER_PACKAGE_NAME kestrelbay-helper)
set(CPACK_DEBIAN_HELPER_PACKAGE_SECTION admin)
# Depends: the shared libraries the executables link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_HELPER_PACKAGE_SHLIBDEPS ON)
# libsystemd's bus client is loaded when polkit is first asked, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_HELPER_PACKAGE_DEPENDS "libsystemd0")
# polkit answers requests beyond the caller's own files (without it those are refused);
# systemd starts the helper on demand (without it only one-shot mode runs).
set(CPACK_DEBIAN_HELPER_PACKAGE_RECOMMENDS "systemd, polkitd, dbus")
set(CPACK_DEBIAN_HELPER_PACKAGE_CONTROL_EXTRA
    ${KB_DEB_DIR}/postinst ${KB_DEB_DIR}/prerm ${KB_DEB_DIR}/postrm)
set(CPACK_COMPONENT_HELPER_DESCRIPTION
"privileged helper of the Kestrel Bay disk cleaner
 dev.kestrelbay.helper does for the unprivileged Kestrel Bay application
 what needs root: it moves items to a user's Trash, deletes and restores
 them, clears immutable attributes, signals processes and stops services,
 after a path safety policy has judged every path. systemd starts it on
 demand on its socket; polkit asks an administrator before it acts beyond
 the caller's own files.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkestrelbay-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# What the static libraries and their headers need, found by KestrelBayConfig.cmake and
# kestrelbay.pc.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libboost-json1.81-dev, libutf8proc-dev, uuid-dev, pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
"Kestrel Bay SDK: helper protocol and cleaning domain library
 Headers, static libraries, a CMake package (find_package(KestrelBay)) and a
 pkg-config file for applications that talk to dev.kestrelbay.helper over its
 socket or use the cleaning domain model: rule catalogue, deletion plans, disk
 usage and the operation journal.")

include(CPack)
