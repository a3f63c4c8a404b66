# Installation where CUPS looks: the filter into its filter folder, the emulator as a backend,
# the PPDs into its model folder (found there by `lpinfo -m` of a full CUPS installation).
# The folders are CUPS's own (cups-config), not under CMAKE_INSTALL_PREFIX; DESTDIR still
# applies, so a staging install works without root.
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

if(RX5K_PPDC)
  install(FILES ${RX5K_PPD_FILES} DESTINATION ${RX5K_CUPS_DATADIR}/model/rx5k
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
