# The Windows cross build: header-only libraries from Debian's packages, GoogleTest built from
# Debian's source package, and no OpenSSL, libcurl or cpp-httplib (none is built for mingw-w64).

# Boost (Asio, Beast), nlohmann-json and CLI11 are header-only, but /usr/include also holds glibc's
# headers, which must never reach the cross compiler: a folder of the build tree links to just them.
set(VEKTA_CROSS_INCLUDE ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${VEKTA_CROSS_INCLUDE})
foreach(library boost nlohmann CLI)
  if(NOT EXISTS /usr/include/${library})
    message(FATAL_ERROR "/usr/include/${library} is missing: run scripts/install-deps.sh --windows")
  endif()
  file(CREATE_LINK /usr/include/${library} ${VEKTA_CROSS_INCLUDE}/${library} SYMBOLIC)
endforeach()

add_library(Boost::headers INTERFACE IMPORTED)
# SYSTEM: warnings inside Boost are not ours to fix, and -Werror would stop on them.
set_target_properties(Boost::headers PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE}
  INTERFACE_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE}
  # Asio on Windows 10's socket API; without a version it warns on every file.
  INTERFACE_COMPILE_DEFINITIONS "_WIN32_WINNT=0x0A00;WIN32_LEAN_AND_MEAN;NOMINMAX")
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE}
  INTERFACE_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE})
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE}
  INTERFACE_INCLUDE_DIRECTORIES ${VEKTA_CROSS_INCLUDE})

# No mingw runtime DLL beside our DLLs and programs: libgcc, libstdc++ and winpthread go in
# statically; what is left to import is the platform DLL and Windows' own.
add_link_options(-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread
                 -Wl,--no-whole-archive,-Bdynamic)

# Test programs run under Wine with the prefix in the build folder (see cmake/wine-run.sh.in).
set(VEKTA_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

if(VEKTA_BUILD_TESTS)
  set(VEKTA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "Debian's googletest source package")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${VEKTA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # It names its targets GTest::gtest, GTest::gmock and so on itself, as Debian's package does.
  include(GoogleTest)
endif()
