# vm316.dll: the 32-bit Windows library that existing hosts load by name and ordinal. Included
# by the top-level CMakeLists.txt when building for Windows, once the vm316 target and
# VM316_HOST_EXTRAS exist. The .def file (cmake/write_def_file.cmake) gives every name of
# src/exports/export_list.txt its fixed ordinal; --kill-at exports the stdcall names without
# their @N.

set(VM316_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/vm316.def)
add_custom_command(
  OUTPUT ${VM316_DEF_FILE}
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DARCHIVE=$<TARGET_FILE:vm316_core>
          -DEXPORT_LIST=${CMAKE_CURRENT_SOURCE_DIR}/src/exports/export_list.txt
          "-DHOST_EXTRAS=${VM316_HOST_EXTRAS}" -DOUTPUT=${VM316_DEF_FILE}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write_def_file.cmake
  DEPENDS vm316_core ${CMAKE_CURRENT_SOURCE_DIR}/src/exports/export_list.txt
          ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write_def_file.cmake
  COMMENT "Writing the export table of vm316.dll"
  VERBATIM)
target_sources(vm316 PRIVATE ${VM316_DEF_FILE})

# The import library for hosts built with vm316.h: the linker's own would name the functions
# undecorated, as they are exported, where a host compiled with the stdcall declarations asks
# for _Name@N. dlltool -k makes one with the decorated names that imports the undecorated ones.
add_custom_command(
  TARGET vm316 POST_BUILD
  COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${VM316_DEF_FILE} --dllname vm316.dll
          --output-lib $<TARGET_LINKER_FILE:vm316>
  VERBATIM)

# A drop-in: no DLLs of the compiler beside it (libgcc, libstdc++, winpthread), only the
# system's.
set_target_properties(vm316 PROPERTIES PREFIX "")
target_link_options(vm316 PRIVATE -static -static-libgcc -static-libstdc++ "LINKER:--kill-at"
                    "LINKER:--no-undefined")
target_link_libraries(vm316_core PUBLIC user32 gdi32)
