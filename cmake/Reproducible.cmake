# The same sources give the same bytes, whichever folder they are built in and whenever: no
# build-folder path in any object (file names in assertions and debug data are written relative
# to the tree) and, for Windows images, a zero link time stamp (ld's default is the clock, which
# also changes the PE checksum).

add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
if(NOT CMAKE_BINARY_DIR STREQUAL CMAKE_SOURCE_DIR)
  add_compile_options(-ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
endif()

if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
