# `cmake --install`: the headers, libvm316.so with its soname, the vm316 command-line host, a
# CMake package (find_package(vm316) gives vm316::vm316), vm316.pc and the Python package. Every
# path inside the installed tree is relative to the tree itself, so it may be moved as a whole.
include(CMakePackageConfigHelpers)

if(WIN32)
  return()  # the DLL is copied beside its host by hand (README, Windows)
endif()

set(VM316_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vm316)

install(FILES include/vm316.h include/vm316_host.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
install(TARGETS vm316 EXPORT vm316Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development)
install(EXPORT vm316Targets NAMESPACE vm316:: DESTINATION ${VM316_CMAKE_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(cmake/vm316Config.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/vm316Config.cmake
                              INSTALL_DESTINATION ${VM316_CMAKE_PACKAGE_DIR})
# The exported interface only grows within a major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vm316ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vm316Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/vm316ConfigVersion.cmake
        DESTINATION ${VM316_CMAKE_PACKAGE_DIR} COMPONENT development)

# pkg-config finds the tree from where the .pc file lies (${pcfiledir}).
file(RELATIVE_PATH VM316_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VM316_PC_TO_PREFIX "${VM316_PC_TO_PREFIX}")
configure_file(cmake/vm316.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vm316.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vm316.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

if(TARGET vm316_cli)
  # The host finds the library beside it in the tree, wherever the tree is.
  file(RELATIVE_PATH VM316_BIN_TO_LIB ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(vm316_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${VM316_BIN_TO_LIB}")
  install(TARGETS vm316_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# The hosts' shared rules for Python, beside the library they use.
if(TARGET vm316_host_c)
  set_target_properties(vm316_host_c PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS vm316_host_c LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT python)
endif()

# The Python package, pure Python, with a note of where the library lies relative to it.
if(VM316_PYTHON)
  execute_process(COMMAND ${VM316_PYTHON} -c
                          "import sys; print(f'{sys.version_info[0]}.{sys.version_info[1]}')"
                  OUTPUT_VARIABLE VM316_PYTHON_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(VM316_PYTHON_DEFAULT_DIR lib/python${VM316_PYTHON_VERSION}/dist-packages)
else()
  set(VM316_PYTHON_DEFAULT_DIR lib/python3/dist-packages)
endif()
set(VM316_PYTHON_INSTALL_DIR ${VM316_PYTHON_DEFAULT_DIR}
    CACHE STRING "Where cmake --install puts the Python package, relative to the prefix")
file(RELATIVE_PATH VM316_PYTHON_TO_LIB ${CMAKE_INSTALL_PREFIX}/${VM316_PYTHON_INSTALL_DIR}/vm316
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/python/_installed.py
     CONTENT "# Written by cmake --install: the library's directory, relative to this package.
LIBRARY_DIRECTORY = \"${VM316_PYTHON_TO_LIB}\"
LIBRARY_NAME = \"libvm316.so.${PROJECT_VERSION_MAJOR}\"
")
install(DIRECTORY python/vm316/ DESTINATION ${VM316_PYTHON_INSTALL_DIR}/vm316 COMPONENT python
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/python/_installed.py
        DESTINATION ${VM316_PYTHON_INSTALL_DIR}/vm316 COMPONENT python)
