# Writes the .def file of vm316.dll (cmake -P, at build time, once the core is compiled).
#
#   -DNM=<nm> -DARCHIVE=<libvm316_core.a> -DEXPORT_LIST=<export_list.txt>
#   -DHOST_EXTRAS=<names;...> -DOUTPUT=<vm316.def>
#
# Each name of the list gets its fixed ordinal. The exports are stdcall, so inside the core
# they are _Name@N, N the bytes of their arguments; the .def names them so (the import library
# then serves hosts compiled with vm316.h), and the linker's --kill-at exports them
# undecorated. The host extras (plain C calls) follow the family's table with the ordinals
# after its last one; left to the linker they would fill the unassigned 68 and 69.

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -g --defined-only ${ARCHIVE} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} cannot read ${ARCHIVE}")
endif()

# The name the core defines for an export: _Name@N (stdcall) or _Name (plain C call).
function(defined_name name result)
  if(symbols MATCHES " T _${name}(@[0-9]+)\n")
    set(${result} "${name}${CMAKE_MATCH_1}" PARENT_SCOPE)
  elseif(symbols MATCHES " T _${name}\n")
    set(${result} "${name}" PARENT_SCOPE)
  else()
    message(FATAL_ERROR "${ARCHIVE} does not define the export ${name}")
  endif()
endfunction()

file(STRINGS ${EXPORT_LIST} lines REGEX "^[A-Za-z]")
set(body "LIBRARY vm316.dll\nEXPORTS\n")
set(last_ordinal 0)
foreach(line ${lines})
  if(NOT line MATCHES "^([A-Za-z_][A-Za-z_0-9]*)[ \t]+([0-9]+)")
    message(FATAL_ERROR "${EXPORT_LIST}: not a name and an ordinal: ${line}")
  endif()
  set(ordinal ${CMAKE_MATCH_2})
  defined_name(${CMAKE_MATCH_1} symbol)
  string(APPEND body "  ${symbol} @${ordinal}\n")
  if(ordinal GREATER last_ordinal)
    set(last_ordinal ${ordinal})
  endif()
endforeach()
set(ordinal ${last_ordinal})
foreach(name ${HOST_EXTRAS})
  math(EXPR ordinal "${ordinal} + 1")
  defined_name(${name} symbol)
  string(APPEND body "  ${symbol} @${ordinal}\n")
endforeach()

# Rewritten only when it changes, so that the DLL is not relinked for nothing.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${body}")
