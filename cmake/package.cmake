# The Debian package of the whole product with CPack's DEB generator: `cpack` in a build folder
# packs exactly what `cmake --install` installs, so the package cannot drift from the install
# rules (scripts/package configures a build for it and runs cpack). Library dependencies come
# from dpkg-shlibdeps, so a library added to a link (poppler, say) reaches Depends by itself.
include_guard(GLOBAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rx5k)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rx5k maintainers <rx5k@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CUPS raster filter, PPDs and IPP Everywhere printer application for RX5K and label printers")
set(CPACK_PACKAGE_DESCRIPTION
    "rastertoRX5K drives the RX5K thermal printers and seven label-printer languages from CUPS,
with one PPD per model. rx5k-printer-app serves the same printers as IPP Everywhere printers.
rx5k-emulator plays the printer and writes PNG previews; as the CUPS backend rx5k-emu it is a
virtual printer.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries (appended by dpkg-shlibdeps): groupadd, useradd and usermod, which the
# postinst's account set-up runs; passwd is required by Debian but not essential.
set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
# The filter, the backend and the PPDs serve a CUPS scheduler, and PDF jobs need the rasterizer;
# the printer application runs without either.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon, cups-filters")
# The install rules name CUPS's folders and the spool folder absolutely: staged under DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(rx5k_deb_scripts "")
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/${script}.in ${CMAKE_BINARY_DIR}/deb/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND rx5k_deb_scripts ${CMAKE_BINARY_DIR}/deb/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${rx5k_deb_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
