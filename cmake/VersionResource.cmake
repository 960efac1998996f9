# valdrin_add_version_resource(TARGET DESCRIPTION text LICENCE text [ICON file.ico]): gives
# a Windows exe a version resource (product, file and product version, description, and
# its licence terms after the copyright), an icon, the one Explorer shows for the file,
# and the application manifest cmake/app.manifest.
enable_language(RC)

function(valdrin_add_version_resource target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;LICENCE;ICON" "" ${ARGN})
  set(VALDRIN_RC_DESCRIPTION ${ARG_DESCRIPTION})
  set(VALDRIN_RC_LICENCE ${ARG_LICENCE})
  set(VALDRIN_RC_FILE_NAME ${target}.exe)
  set(VALDRIN_RC_ICON "")
  if(ARG_ICON)
    set(VALDRIN_RC_ICON "1 ICON \"${ARG_ICON}\"")
  endif()
  set(VALDRIN_RC_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/app.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${VALDRIN_RC_MANIFEST};${ARG_ICON}")
endfunction()
