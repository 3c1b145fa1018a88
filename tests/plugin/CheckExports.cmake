# cmake -DMODULE=<file> -DTOOL=<nm or objdump> -P CheckExports.cmake
# The module must export PostProcessEntry and nothing else: the host looks up that one name, and
# anything more would let the host or another module bind to the plug-in's private code.
if(TOOL MATCHES "objdump")
  # A Windows DLL: the names in its export table.
  execute_process(COMMAND ${TOOL} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} failed on ${MODULE}")
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" names "${table}")
  list(TRANSFORM names REPLACE "^\\[ *[0-9]+\\] " "")
else()
  # An ELF module: its defined dynamic symbols.
  execute_process(COMMAND ${TOOL} -D --defined-only ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} failed on ${MODULE}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  set(names "")
  foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
    list(APPEND names ${name})
  endforeach()
endif()
if(NOT names STREQUAL "PostProcessEntry")
  message(FATAL_ERROR "${MODULE} exports [${names}], expected only PostProcessEntry")
endif()
message(STATUS "${MODULE} exports only PostProcessEntry")
