# The size-optimised Windows builds (MinSizeRel: the product exe and the builds of it that the
# end-to-end tests run) optimise our code across source files at link time, which drops code no
# caller needs and inlines what has one caller (about 28 KB off the product exe).
# - One partition: GCC 12 for MinGW splits the program into several by default, and the
#   partitions then need symbols of each other that stay local, which fails the link.
# - Fat objects: each object also keeps its ordinary code, so nm still lists every import it
#   calls (cmake/KeepDelayStubs.cmake reads them to keep the delay-load stubs).
# libcurl and zlib are C libraries built on their own and take no part.

if(WIN32)
  set(ombrel_lto "$<$<AND:$<CONFIG:MinSizeRel>,$<COMPILE_LANGUAGE:C,CXX>>:-flto;-flto-partition=one;-ffat-lto-objects>")
  add_compile_options("${ombrel_lto}")
  # The code is generated at the link, so the link gets the code generation options too.
  add_link_options("$<$<CONFIG:MinSizeRel>:-flto;-flto-partition=one;-ffunction-sections;-fdata-sections>")
endif()
