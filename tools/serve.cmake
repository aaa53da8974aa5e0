# `vm316 serve` needs cpp-httplib (Debian's libcpp-httplib-dev, found through pkg-config by
# cmake/optional_dependencies.cmake, which says what brings it back when it is missing). The
# interface target vm316_httplib carries it.
find_package(Threads REQUIRED)
set(VM316_SERVE ${VM316_HAVE_HTTPLIB})
if(NOT VM316_SERVE)
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
  target_link_libraries(${target} PRIVATE vm316_httplib Threads::Threads)
endfunction()
