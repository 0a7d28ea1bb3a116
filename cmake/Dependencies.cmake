# Third-party libraries, all from Debian: GoogleTest, libcurl (+ zlib).
# Natively they come from the system; for the MinGW builds GoogleTest is compiled from
# /usr/src/googletest and libcurl from Debian's curl source package (see CurlWindows.cmake).

if(WIN32)
  include(CurlWindows)
else()
  find_package(CURL REQUIRED)
  find_package(ZLIB REQUIRED)  # also used directly: the built-in CA list is stored compressed
  add_library(ombrel_zlib INTERFACE)
  target_link_libraries(ombrel_zlib INTERFACE ZLIB::ZLIB)
  add_library(ombrel_curl INTERFACE)
  target_link_libraries(ombrel_curl INTERFACE CURL::libcurl ombrel_zlib)
endif()

if(OMBREL_BUILD_TESTS)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest 1.11+ defines these aliases itself.
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
