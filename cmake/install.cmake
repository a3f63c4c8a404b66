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

# The backend's folder belongs to the user it runs as, writable by nobody else (the backend
# refuses it otherwise), and to the print administrators' group where the system has one (the
# group is not made here: without it only the backend's user and root read the previews).
# Mode 2751: the setgid bit gives each job folder, and so each file, the folder's group; other
# users may pass through to a job folder that an ACL opens to them, but not list the folder.
# Only root can give it away: a staging install by another user creates it and says what is
# left to do on the target.
install(DIRECTORY DESTINATION ${RX5K_BACKEND_ROOT} COMPONENT rx5k-backend-folder
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_EXECUTE)
install(CODE "
  set(folder \"\$ENV{DESTDIR}${RX5K_BACKEND_ROOT}\")
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL 0)
    execute_process(COMMAND getent group ${RX5K_BACKEND_GROUP} RESULT_VARIABLE nogroup
                    OUTPUT_QUIET)
    set(owner ${RX5K_BACKEND_USER}:${RX5K_BACKEND_GROUP})
    if(nogroup)
      set(owner ${RX5K_BACKEND_USER}:)
      message(STATUS \"No group ${RX5K_BACKEND_GROUP}: \${folder} gets the group of ${RX5K_BACKEND_USER}\")
    endif()
    execute_process(COMMAND chown \${owner} \${folder} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"cannot give \${folder} to \${owner}\")
    endif()
  else()
    message(STATUS \"Not root: \${folder} stays yours; on the target: chown ${RX5K_BACKEND_USER}:${RX5K_BACKEND_GROUP} ${RX5K_BACKEND_ROOT}; chmod 2751 ${RX5K_BACKEND_ROOT}\")
  endif()
  execute_process(COMMAND chmod 2751 \${folder} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"cannot set the mode of \${folder}\")
  endif()
" COMPONENT rx5k-backend-folder)

# What a user and a distribution want beside the programs: the licence as Debian names it, the
# changes and the guides.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGES.md
              ${CMAKE_SOURCE_DIR}/docs/INSTALL.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
