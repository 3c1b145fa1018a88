# Everything comes from Debian's packages (see README.md).
find_package(Threads REQUIRED)

if(WIN32 AND CMAKE_CROSSCOMPILING)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
  return()
endif()

find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
# Asio and Beast, header-only, for the loopback server.
find_package(Boost 1.74 REQUIRED)
# The programs' command lines (header-only).
find_package(CLI11 2.1 REQUIRED CONFIG)

# Debian ships cpp-httplib compiled (header plus libcpp-httplib.so), without a CMake package.
find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
find_library(HTTPLIB_LIBRARY NAMES cpp-httplib REQUIRED)
add_library(httplib::httplib UNKNOWN IMPORTED)
set_target_properties(httplib::httplib PROPERTIES
  IMPORTED_LOCATION ${HTTPLIB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${HTTPLIB_INCLUDE_DIR}
  INTERFACE_COMPILE_DEFINITIONS "CPPHTTPLIB_OPENSSL_SUPPORT;CPPHTTPLIB_ZLIB_SUPPORT;CPPHTTPLIB_BROTLI_SUPPORT")

if(VEKTA_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
