# Version resources of the Windows binaries.
#
# txl_version_resource(<target> <a.b.c.d> <description>) gives one executable or DLL its version
# record (file version, description, file names, product version), so that Explorer, installers
# and `reg`-style tools read what was built. Elsewhere than on Windows it does nothing.
#
# Which binary carries which version is decided in one place, cmake/TxlVersions.cmake.

set(TXL_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(txl_version_resource target version description)
  if(NOT WIN32)
    return()
  endif()
  if(NOT version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "txl_version_resource(${target}): '${version}' is not a four-part version")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(TXL_VR_FILETYPE VFT_DLL)
  elseif(type STREQUAL "EXECUTABLE")
    set(TXL_VR_FILETYPE VFT_APP)
  else()
    message(FATAL_ERROR "txl_version_resource(${target}): only programs and DLLs carry a version record")
  endif()

  set(TXL_VR_TARGET ${target})
  set(TXL_VR_FILE_VERSION ${version})
  set(TXL_VR_DESCRIPTION "${description}")
  string(REPLACE "." "," TXL_VR_FILE_COMMAS ${version})
  set(TXL_VR_PRODUCT_VERSION ${PROJECT_VERSION}.0)
  string(REPLACE "." "," TXL_VR_PRODUCT_COMMAS ${TXL_VR_PRODUCT_VERSION})

  # Two passes: the @variables@ now, the file names (generator expressions) at generation time.
  set(dir ${PROJECT_BINARY_DIR}/version_resources)
  configure_file(${TXL_VERSION_RC_TEMPLATE} ${dir}/${target}.rc.in @ONLY)
  file(GENERATE OUTPUT ${dir}/${target}.rc INPUT ${dir}/${target}.rc.in)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_property(TARGET ${target} PROPERTY TXL_FILE_VERSION ${version})
endfunction()
