# Warnings and sanitizers for every target of the project, linked in through one INTERFACE target.
# The warnings are always on; the presets make them errors (VEKTA_WARNINGS_AS_ERRORS), so that a
# build with another compiler or by a packager is not stopped by a warning new to it.
add_library(vekta_options INTERFACE)
set(VEKTA_WERROR $<$<BOOL:${VEKTA_WARNINGS_AS_ERRORS}>:-Werror>)
target_compile_options(vekta_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic ${VEKTA_WERROR} -Wshadow -Wnon-virtual-dtor
                            -Woverloaded-virtual -Wcast-align>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic ${VEKTA_WERROR}>)

if(VEKTA_SANITIZE)
  target_compile_options(vekta_options INTERFACE -fsanitize=${VEKTA_SANITIZE} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
  target_link_options(vekta_options INTERFACE -fsanitize=${VEKTA_SANITIZE})
  if(VEKTA_SANITIZE MATCHES "thread")
    # ThreadSanitizer does not model Asio's memory fences (GCC refuses them under -Werror); the
    # mutexes of Asio's queues already order what the fences would, and those it does see.
    target_compile_definitions(vekta_options INTERFACE BOOST_ASIO_DISABLE_FENCED_BLOCK)
  endif()
endif()

if(VEKTA_BUILD_FUZZ)
  # Coverage for libFuzzer in every target; only the fuzz programs link its runtime (tests/fuzz).
  target_compile_options(vekta_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Plug-in code keeps its symbols to itself; only the entry point is exported (see plugin/).
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
