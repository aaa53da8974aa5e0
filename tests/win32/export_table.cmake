# Checks the export table of vm316.dll as objdump reads it from the file (cmake -P):
# exactly the names of the list at their ordinals, undecorated, 68 and 69 unassigned, the host
# extras by name after the family's table, and no DLL imported beside the system's own.
#
#   -DOBJDUMP=<objdump> -DLIBRARY=<vm316.dll> -DEXPORT_LIST=<export_list.txt>
#   -DHOST_EXTRAS=<names;...>

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${LIBRARY}")
endif()

set(faults "")
macro(fault text)
  string(APPEND faults "  ${text}\n")
endmacro()

if(NOT dump MATCHES "Ordinal Base[ \t]+([0-9]+)")
  message(FATAL_ERROR "${LIBRARY} has no export table")
endif()
set(base ${CMAKE_MATCH_1})

# The name table: "[index] Name", the index counted from the ordinal base.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" names_section "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" name_entries "${names_section}")
set(exported "")
foreach(entry ${name_entries})
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" matched "${entry}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  set(name "${CMAKE_MATCH_2}")
  if(name MATCHES "@")
    fault("${name} is exported decorated")
  endif()
  list(APPEND exported "${name}=${ordinal}")
endforeach()

file(STRINGS ${EXPORT_LIST} lines REGEX "^[A-Za-z]")
set(expected "")
set(last 0)
foreach(line ${lines})
  string(REGEX MATCH "^([A-Za-z_0-9]+)[ \t]+([0-9]+)" matched "${line}")
  list(APPEND expected "${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
  if(CMAKE_MATCH_2 GREATER last)
    set(last ${CMAKE_MATCH_2})
  endif()
endforeach()
foreach(extra ${HOST_EXTRAS})
  math(EXPR last "${last} + 1")
  list(APPEND expected "${extra}=${last}")
endforeach()

foreach(entry ${expected})
  if(NOT entry IN_LIST exported)
    fault("missing or at another ordinal: ${entry}")
  endif()
endforeach()
foreach(entry ${exported})
  if(NOT entry IN_LIST expected)
    fault("not in the list: ${entry}")
  endif()
endforeach()
list(LENGTH exported count)
list(LENGTH HOST_EXTRAS extras)
math(EXPR expected_count "115 + ${extras}")
if(NOT count EQUAL expected_count)
  fault("${count} names exported, not 115 + ${extras} host extras")
endif()

# The address table: ordinals 68 and 69 hold nothing, so objdump does not list them.
foreach(unassigned 68 69)
  if(dump MATCHES "\\+base\\[ *${unassigned}\\]")
    fault("ordinal ${unassigned} is assigned")
  endif()
endforeach()

# A drop-in: the system's DLLs only, no runtime of the compiler beside it.
string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports "")
foreach(line ${import_lines})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(TOUPPER "${dll}" dll)
  list(APPEND imports ${dll})
  if(NOT dll MATCHES "^(KERNEL32|USER32|GDI32|MSVCRT)\\.DLL$")
    fault("imports ${dll}")
  endif()
endforeach()

if(faults)
  message(FATAL_ERROR "export table of ${LIBRARY}:\n${faults}")
endif()
list(JOIN imports ", " imports)
message(STATUS "${count} exports at their ordinals; imports ${imports}")
