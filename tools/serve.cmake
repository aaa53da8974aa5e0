# `vm316 serve` needs cpp-httplib: Debian's libcpp-httplib-dev (a header and a shared library,
# described by pkg-config), or the header-only single file. Without it the subcommand is left
# out of the build and the rest of vm316 is built as usual. Target vm316_httplib carries it.
find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND AND NOT TARGET vm316_httplib)
  pkg_check_modules(VM316_HTTPLIB QUIET IMPORTED_TARGET GLOBAL cpp-httplib)
endif()
if(TARGET vm316_httplib)
  set(VM316_SERVE ON)
elseif(TARGET PkgConfig::VM316_HTTPLIB)
  add_library(vm316_httplib INTERFACE)
  target_link_libraries(vm316_httplib INTERFACE PkgConfig::VM316_HTTPLIB Threads::Threads)
  set(VM316_SERVE ON)
else()
  find_path(VM316_HTTPLIB_INCLUDE_DIR httplib.h)
  find_library(VM316_HTTPLIB_LIBRARY cpp-httplib)
  if(VM316_HTTPLIB_INCLUDE_DIR AND NOT VM316_HTTPLIB_LIBRARY)
    add_library(vm316_httplib INTERFACE)
    target_include_directories(vm316_httplib SYSTEM INTERFACE ${VM316_HTTPLIB_INCLUDE_DIR})
    target_link_libraries(vm316_httplib INTERFACE Threads::Threads)
    set(VM316_SERVE ON)
  else()
    set(VM316_SERVE OFF)
  endif()
endif()
if(NOT VM316_SERVE)
  message(STATUS "vm316 serve left out: cpp-httplib not found (install libcpp-httplib-dev "
                 "and pkgconf)")
  list(FILTER VM316_TOOL_SOURCES EXCLUDE REGEX "/serve[^/]*\\.cpp$")
endif()

# The page files become byte arrays in a generated source.
function(vm316_add_serve target)
  file(GLOB web_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/*.html
       ${CMAKE_CURRENT_SOURCE_DIR}/web/*.css ${CMAKE_CURRENT_SOURCE_DIR}/web/*.js)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/serve_assets_data.cpp)
  # A list cannot pass through the command line as it is: '|' separates the files there.
  string(REPLACE ";" "|" web_list "${web_files}")
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${generated} "-DFILES=${web_list}" -P
            ${CMAKE_CURRENT_SOURCE_DIR}/web/embed.cmake
    DEPENDS ${web_files} ${CMAKE_CURRENT_SOURCE_DIR}/web/embed.cmake
    COMMENT "Embedding the panel's page files"
    VERBATIM)
  target_sources(${target} PRIVATE ${generated})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE VM316_WITH_SERVE)
  target_link_libraries(${target} PRIVATE vm316_httplib)
endfunction()
