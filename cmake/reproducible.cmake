# The same sources build the same bytes in any folder at any time: no source
# or build folder inside the objects (debug information, file names), and no
# link time in Windows images. __DATE__ and __TIME__ follow
# SOURCE_DATE_EPOCH, which scripts/package.sh sets to the commit's time.
# The build folder's map comes last: GCC tries the last one first, and the
# build folder may lie inside the sources.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
  # Release images leave out their symbols when linked: strip, run later,
  # would write the time into them again.
  add_link_options($<$<CONFIG:Release>:-s>)
endif()
