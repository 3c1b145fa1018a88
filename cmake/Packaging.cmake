# Packages of the installed tree (see cmake/Install.cmake), made by cpack or scripts/package.sh: a
# .deb on Linux, a .zip on Windows.
set(CPACK_PACKAGE_NAME vekta-tiktok-postprocess)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "TikTok post-process plug-in for the Vekta media encoder, with a reference host and a TikTok sandbox")
set(CPACK_PACKAGE_CONTACT "Vekta TikTok plug-in developers <vekta-tiktok@localhost>")
set(CPACK_VERBATIM_VARIABLES ON)
# Debug information stays in the build tree; the packages carry what runs.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  # Depends from the libraries the programs really link (dpkg-shlibdeps, from dpkg-dev), so that
  # `apt-get install ./<file>.deb` brings them; the private platform library is found through
  # the programs' RPATH.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
