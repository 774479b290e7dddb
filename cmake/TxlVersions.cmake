# The file version of every Windows binary of the suite, in one table. Evaluated after every
# folder of the build, so that each target named here exists when it is built at all.
#
# VexelSarDll's version is declared beside the bridge, which also reports it in its log.
get_directory_property(TXL_BRIDGE_VERSION DIRECTORY ${PROJECT_SOURCE_DIR}/bridge
                       DEFINITION VEXEL_SAR_DLL_VERSION)
set(TXL_TOOLS_VERSION ${PROJECT_VERSION}.0)

# target | version | description
set(TXL_VERSIONED_BINARIES
  "VexelSarDll|${TXL_BRIDGE_VERSION}|MBIM SAR bridge"
  "krillTXLApi|${TXL_TOOLS_VERSION}|SAR control library"
  "TxlApply|${TXL_TOOLS_VERSION}|Body-SAR power-table tool"
  "txlctl|${TXL_TOOLS_VERSION}|Body-SAR settings command line"
  "bridge_walk|${TXL_TOOLS_VERSION}|Bridge session walk"
  "txlsim|${TXL_TOOLS_VERSION}|Simulated notebook tool"
  "TXLGuard|1.0.2.6|TXL Service"
)
foreach(entry IN LISTS TXL_VERSIONED_BINARIES)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 target)
  list(GET fields 1 version)
  list(GET fields 2 description)
  # The service comes with its own folder; until then there is nothing to stamp.
  if(TARGET ${target})
    txl_version_resource(${target} ${version} "${description}")
  endif()
endforeach()
