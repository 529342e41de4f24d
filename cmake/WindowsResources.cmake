# qv_windows_resources(<target> <description> [DPI_AWARE]): the resources every Windows program
# of the build carries. A version resource with the project's version, product name and the
# description; with DPI_AWARE also the manifest that declares a program that opens windows aware
# of the display scale. Nothing on other platforms.
function(qv_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "DPI_AWARE" "" "" ${ARGN})
  set(QV_RC_NAME ${target})
  set(QV_RC_DESCRIPTION "${description}")
  set(QV_RC_MANIFEST "")
  set(manifest ${PROJECT_SOURCE_DIR}/app/win32/DpiAware.manifest)
  if(ARG_DPI_AWARE)
    # 1 is the manifest the loader reads at process start, 24 the manifest resource type.
    set(QV_RC_MANIFEST "1 24 \"${manifest}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionResource.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
  target_sources(${target} PRIVATE ${rc})
endfunction()
