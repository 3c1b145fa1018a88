# What `cmake --install` lays out: the programs in bin/, the module and the platform library together
# in a folder of their own under lib/ (private libraries, not for other programs to link). On
# Windows everything goes in bin/, where the loader looks for a program's DLLs. Tests, benchmarks
# and their helpers are not installed.
if(WIN32)
  set(VEKTA_INSTALL_MODULEDIR ${CMAKE_INSTALL_BINDIR})
else()
  set(VEKTA_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/vekta)
endif()
# The module's folder as the installed programs see it from theirs ("../lib/vekta"); both are
# relative to the prefix, so the tree can be moved or installed with --prefix.
file(RELATIVE_PATH VEKTA_MODULEDIR_FROM_BINDIR /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${VEKTA_INSTALL_MODULEDIR})

set(VEKTA_INSTALLED_TARGETS vektaplatform)
if(TARGET TikTokPostProcess)
  list(APPEND VEKTA_INSTALLED_TARGETS TikTokPostProcess vekta-host)
endif()
if(TARGET tiktok-sandbox)
  list(APPEND VEKTA_INSTALLED_TARGETS tiktok-sandbox)
endif()
get_target_property(platformKind vektaplatform TYPE)
if(NOT platformKind STREQUAL "SHARED_LIBRARY")
  # A static platform (the fuzz build) is inside each program already.
  list(REMOVE_ITEM VEKTA_INSTALLED_TARGETS vektaplatform)
endif()

if(NOT VEKTA_MODULEDIR_FROM_BINDIR)
  set(VEKTA_MODULEDIR_FROM_BINDIR .)
endif()
# The host looks there too, after its own folder and ../lib (the build tree).
set_property(SOURCE ${CMAKE_SOURCE_DIR}/refhost/ModuleLocation.cpp DIRECTORY ${CMAKE_SOURCE_DIR}/refhost APPEND PROPERTY
             COMPILE_DEFINITIONS VEKTA_INSTALLED_MODULE_FOLDER="${VEKTA_MODULEDIR_FROM_BINDIR}")
if(NOT WIN32 AND TARGET vekta-host)
  set_target_properties(vekta-host PROPERTIES INSTALL_RPATH "$ORIGIN/${VEKTA_MODULEDIR_FROM_BINDIR}")
endif()

# Only the programs and the libraries they load at run time: no import library (the DLL's .dll.a),
# no headers, since nothing builds against the installed tree.
if(VEKTA_INSTALLED_TARGETS)
  install(TARGETS ${VEKTA_INSTALLED_TARGETS}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${VEKTA_INSTALL_MODULEDIR})
endif()
