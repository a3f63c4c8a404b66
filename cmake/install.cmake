# Installation where CUPS looks: the filter into its filter folder, the emulator as a backend,
# the PPDs into its model folder (found there by `lpinfo -m` of a full CUPS installation).
# The folders are CUPS's own (cups-config), not under CMAKE_INSTALL_PREFIX; only the emulator
# program goes to CMAKE_INSTALL_PREFIX/bin. DESTDIR still applies, so a staging install works
# without root.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/ppd.cmake)

find_program(RX5K_CUPS_CONFIG cups-config)
set(rx5k_serverbin /usr/lib/cups)
set(rx5k_datadir /usr/share/cups)
if(RX5K_CUPS_CONFIG)
  execute_process(COMMAND ${RX5K_CUPS_CONFIG} --serverbin OUTPUT_VARIABLE rx5k_serverbin
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${RX5K_CUPS_CONFIG} --datadir OUTPUT_VARIABLE rx5k_datadir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(RX5K_CUPS_SERVERBIN ${rx5k_serverbin} CACHE PATH "CUPS ServerBin (filters and backends)")
set(RX5K_CUPS_DATADIR ${rx5k_datadir} CACHE PATH "CUPS DataDir (the PPDs go to model/rx5k)")
# The virtual printer's previews: beside CUPS's own spool folder. They show what users printed, so
# only the backend's user and the print administrators' group read them (and, through an ACL,
# the user who printed).
set(RX5K_BACKEND_ROOT /var/spool/rx5k-emu CACHE PATH "Folder of the emulator backend's job folders")
set(RX5K_BACKEND_USER lp CACHE STRING "User that the scheduler runs the emulator backend as")
set(RX5K_BACKEND_GROUP lpadmin CACHE STRING "Group that may read the emulator backend's previews")
target_compile_definitions(rx5kemu PUBLIC RX5K_BACKEND_ROOT="${RX5K_BACKEND_ROOT}"
                                          RX5K_FILTER_DIR="${RX5K_CUPS_SERVERBIN}/filter")

# Filters must not be writable by anyone: cupsd refuses group- or world-writable ones.
install(TARGETS rastertoRX5K
        RUNTIME DESTINATION ${RX5K_CUPS_SERVERBIN}/filter
        PERMISSIONS OWNER_READ OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# cupsd runs a backend as root only when its mode is 0700; at 0755 it runs as the unprivileged
# lp user like the filters, which is all the emulator needs (it only reads the job and writes
# its own output files), so a bug in it cannot touch the system.
install(PROGRAMS $<TARGET_FILE:rx5k-emulator>
        DESTINATION ${RX5K_CUPS_SERVERBIN}/backend
        RENAME rx5k-emu
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
# A copied program is not a target, so `--strip` (and the package) strips it here.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND ${CMAKE_STRIP} \"\$ENV{DESTDIR}${RX5K_CUPS_SERVERBIN}/backend/rx5k-emu\")
  endif()
")

# On PATH too, for trying a PPD and a raster by hand; it runs the installed filter.
install(TARGETS rx5k-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(RX5K_PPDC)
  install(FILES ${RX5K_PPD_FILES} DESTINATION ${RX5K_CUPS_DATADIR}/model/rx5k
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

# The backend's folder (its owner, group and mode): made by one script, which `cmake --install`
# runs on the installed or staged tree and the Debian package's postinst runs on the system.
set(RX5K_BACKEND_SETUP
    ${CMAKE_INSTALL_FULL_LIBEXECDIR}/rx5k-emulator/setup-backend-folder.sh)
configure_file(${CMAKE_SOURCE_DIR}/emulator/setup-backend-folder.sh.in
               ${CMAKE_BINARY_DIR}/emulator/setup-backend-folder.sh @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/emulator/setup-backend-folder.sh
        DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/rx5k-emulator COMPONENT rx5k-backend-folder)
install(CODE "
  execute_process(COMMAND \"\$ENV{DESTDIR}${RX5K_BACKEND_SETUP}\" \"\$ENV{DESTDIR}\"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"${RX5K_BACKEND_SETUP} failed\")
  endif()
" COMPONENT rx5k-backend-folder)

# What a user and a distribution want beside the programs: the licence as Debian names it, the
# changes and the guides.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGES.md
              ${CMAKE_SOURCE_DIR}/docs/INSTALL.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
