# The release (from the file VERSION, read before project()) plus the build:
# a header, generated at every build, with the full version text, so that a
# new commit changes what the DLL and the tools report without a new
# configure. Consumers add the target pv_version and the folder
# PV_GENERATED_DIR.
set(PV_BUILD_ID "" CACHE STRING "Text after the version's '+' (empty: g<commit> when the sources are a git checkout)")
set(PV_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/VERSION)
add_custom_target(pv_version
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBUILD_ID=${PV_BUILD_ID}
          -DOUTPUT=${PV_GENERATED_DIR}/pv_version.h -P ${CMAKE_CURRENT_LIST_DIR}/version_text.cmake
  BYPRODUCTS ${PV_GENERATED_DIR}/pv_version.h
  VERBATIM)
