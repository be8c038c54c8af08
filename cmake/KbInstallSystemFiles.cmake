# Install-time part of packaging/CMakeLists.txt: the systemd units, the sysusers file and the
# polkit actions, placed by the prefix given at install time (`cmake --install --prefix`),
# with the unit's ExecStart= naming the helper under that same prefix.
#
# Under /usr they go where the distribution's systemd reads them (KB_USR_UNIT_DIR,
# KB_USR_SYSUSERS_DIR); under any other prefix they stay inside it.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr" AND KB_USR_UNIT_DIR)
    set(unit_dir "${KB_USR_UNIT_DIR}")
else()
    set(unit_dir "${prefix}/lib/systemd/system")
endif()
if(prefix STREQUAL "/usr" AND KB_USR_SYSUSERS_DIR)
    set(sysusers_dir "${KB_USR_SYSUSERS_DIR}")
else()
    set(sysusers_dir "${prefix}/lib/sysusers.d")
endif()

set(KB_HELPER_PATH "${prefix}/${KB_LIBEXECDIR}/dev.kestrelbay.helper")
set(KB_DOC_DIR "${prefix}/${KB_DATADIR}/doc/kestrelbay-helper")
configure_file("${KB_PACKAGING_DIR}/dev.kestrelbay.helper.service.in"
               "${KB_BINARY_DIR}/install-${CMAKE_INSTALL_CONFIG_NAME}/dev.kestrelbay.helper.service" @ONLY)
file(INSTALL "${KB_PACKAGING_DIR}/dev.kestrelbay.helper.socket"
             "${KB_BINARY_DIR}/install-${CMAKE_INSTALL_CONFIG_NAME}/dev.kestrelbay.helper.service"
     DESTINATION "${unit_dir}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL "${KB_PACKAGING_DIR}/kestrelbay.sysusers" DESTINATION "${sysusers_dir}"
     RENAME kestrelbay.conf FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL "${KB_PACKAGING_DIR}/dev.kestrelbay.helper.policy"
     DESTINATION "${prefix}/${KB_DATADIR}/polkit-1/actions"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
