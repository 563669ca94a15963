# The driver set's version: one number for every binary and the package.
# Varnconf.exe alone keeps the version its users know it by.
set(DRIVER_SET_VERSION 1.9.1.0)
set(VARNCONF_VERSION 2.0.0.3)

# add_version_resource(<target> <description> <original file name>
#                      [VERSION <a.b.c.d>])
# Gives a Windows binary its version resource.
function(add_version_resource target description original)
  cmake_parse_arguments(PARSE_ARGV 3 ARG "" "VERSION" "")
  set(version ${DRIVER_SET_VERSION})
  if(ARG_VERSION)
    set(version ${ARG_VERSION})
  endif()
  set(VERSION_DESCRIPTION "${description}")
  set(VERSION_ORIGINAL_NAME "${original}")
  get_filename_component(VERSION_INTERNAL_NAME "${original}" NAME_WE)
  set(VERSION_DOTS "${version}")
  string(REPLACE "." "," VERSION_COMMAS "${version}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(VERSION_FILE_TYPE VFT_DLL)
  else()
    set(VERSION_FILE_TYPE VFT_APP)
  endif()
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
