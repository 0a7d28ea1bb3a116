# libcurl for the MinGW builds: a static, HTTP/HTTPS-only libcurl over Schannel, compiled from
# Debian's curl source package with the same cross compiler as the program.
#
# Done at configure time, once per target triplet, into a folder shared by every build dir of
# the tree (OMBREL_DEPS_DIR, default build/deps): src/ holds `apt-get source curl`,
# curl-<triplet>/ the build and its installed headers and libcurl.a. A stamp names the options,
# so a change of them rebuilds; a lock keeps two configures from building at once.

set(OMBREL_DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps CACHE PATH "Shared cache of the cross-built dependencies")

if(NOT OMBREL_MINGW_TRIPLET)
  message(FATAL_ERROR "CurlWindows.cmake needs OMBREL_MINGW_TRIPLET from a MinGW toolchain file")
endif()
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(ombrel_curl_toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake)
else()
  set(ombrel_curl_toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw-x86_64.cmake)
endif()

set(ombrel_zlib_dir /usr/${OMBREL_MINGW_TRIPLET})
if(NOT EXISTS ${ombrel_zlib_dir}/lib/libz.a)
  message(FATAL_ERROR "No MinGW zlib in ${ombrel_zlib_dir} (scripts/setup.sh installs libz-mingw-w64-dev)")
endif()

# Every protocol and feature the program does not use is left out: less code to ship and to trust.
# No proxy code at all (the program never uses one, and no environment variable can then route
# a transfer through one), no DNS shuffling, no socket pair for waking curl_multi_poll (nothing
# wakes it), no date parsing (validators are sent back as the server wrote them).
# No unwind tables either: C code has no use for them, so an exception must never reach libcurl
# from a callback of ours (pipeline/http_client.cpp catches everything at that border).
# sscanf and sprintf from the system's msvcrt.dll rather than MinGW's own C99 versions, which
# would be linked in (about 16 KB); libcurl reads status lines and numbers with them, formats
# its own texts, and the differences (long double, %zu, C99 rounding) never meet its formats.
# That holds for the source pinned below; tests/e2e/test_executable.py fails when the exe takes
# anything else from msvcrt (_snprintf and _vsnprintf leave a truncated text unterminated).
set(ombrel_curl_options
  -DCMAKE_BUILD_TYPE=MinSizeRel
  "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-unwind-tables -D__USE_MINGW_ANSI_STDIO=0 -ffile-prefix-map=${OMBREL_DEPS_DIR}/="
  # Stack canaries in libcurl too: it parses what the network sends (MinGW's libssp, linked statically).
  "-DCMAKE_C_FLAGS_MINSIZEREL=-Os -DNDEBUG -fstack-protector-strong"
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_STATICLIB=ON
  -DENABLE_MANUAL=OFF -DENABLE_UNIX_SOCKETS=OFF -DENABLE_THREADED_RESOLVER=ON
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
  -DHTTP_ONLY=ON
  -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_COOKIES=ON
  -DCURL_DISABLE_DOH=ON -DCURL_DISABLE_HSTS=ON -DCURL_DISABLE_MIME=ON -DCURL_DISABLE_NETRC=ON
  -DCURL_DISABLE_NTLM=ON -DCURL_DISABLE_CRYPTO_AUTH=ON -DCURL_DISABLE_HTTP_AUTH=ON
  -DCURL_DISABLE_GETOPTIONS=ON -DCURL_DISABLE_LIBCURL_OPTION=ON -DCURL_DISABLE_PROGRESS_METER=ON
  -DCURL_DISABLE_VERBOSE_STRINGS=ON -DCURL_DISABLE_PROXY=ON -DCURL_DISABLE_SHUFFLE_DNS=ON
  -DCURL_DISABLE_SOCKETPAIR=ON -DCURL_DISABLE_PARSEDATE=ON
  -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF
  -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_USE_GSSAPI=OFF
  -DCURL_ZLIB=ON -DZLIB_INCLUDE_DIR=${ombrel_zlib_dir}/include -DZLIB_LIBRARY=${ombrel_zlib_dir}/lib/libz.a)

# The Debian source package the C runtime assumptions above were checked against. Another
# version must be checked again (its msvcrt imports) before this pin moves.
set(ombrel_curl_pinned_version "7.88.1-10+deb12u15")

# Refuses a curl source of any other version than the pin.
function(ombrel_check_curl_version curl_source)
  set(changelog ${curl_source}/debian/changelog)
  set(found "unknown")
  if(EXISTS ${changelog})
    file(STRINGS ${changelog} first_line LIMIT_COUNT 1)
    if(first_line MATCHES "^curl \\(([^)]+)\\)")
      set(found ${CMAKE_MATCH_1})
    endif()
  endif()
  if(NOT found STREQUAL ombrel_curl_pinned_version)
    message(FATAL_ERROR "libcurl: ${curl_source} is curl ${found}, but the build expects ${ombrel_curl_pinned_version}. "
                        "Check what the new version imports from msvcrt.dll (the e2e executable test lists it), "
                        "then move ombrel_curl_pinned_version in cmake/CurlWindows.cmake.")
  endif()
endfunction()

set(ombrel_curl_dir ${OMBREL_DEPS_DIR}/curl-${OMBREL_MINGW_TRIPLET})
set(ombrel_curl_prefix ${ombrel_curl_dir}/install)
string(SHA1 ombrel_curl_options_hash "${ombrel_curl_options};${CMAKE_C_COMPILER}")
set(ombrel_curl_stamp ${ombrel_curl_dir}/built-${ombrel_curl_options_hash}.stamp)

function(ombrel_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(LENGTH "${output}" length)
    if(length GREATER 4000)
      math(EXPR start "${length} - 4000")
      string(SUBSTRING "${output}" ${start} 4000 output)
    endif()
    message(FATAL_ERROR "libcurl cross build: ${what} failed:\n${output}")
  endif()
endfunction()

function(ombrel_build_curl)
  file(MAKE_DIRECTORY ${OMBREL_DEPS_DIR})
  file(LOCK ${OMBREL_DEPS_DIR}/curl.lock GUARD FUNCTION TIMEOUT 3600)
  if(EXISTS ${ombrel_curl_stamp})
    return()  # another configure built it while this one waited
  endif()

  set(src_root ${OMBREL_DEPS_DIR}/src)
  file(GLOB curl_source LIST_DIRECTORIES true ${src_root}/curl-*/CMakeLists.txt)
  if(NOT curl_source)
    message(STATUS "libcurl: fetching Debian's curl source package into ${src_root}")
    file(REMOVE_RECURSE ${src_root})
    file(MAKE_DIRECTORY ${src_root})
    find_program(OMBREL_APT_GET apt-get REQUIRED)
    execute_process(COMMAND ${OMBREL_APT_GET} source curl=${ombrel_curl_pinned_version} WORKING_DIRECTORY ${src_root}
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    file(GLOB curl_source LIST_DIRECTORIES true ${src_root}/curl-*/CMakeLists.txt)
    if(NOT result EQUAL 0 OR NOT curl_source)
      message(FATAL_ERROR "libcurl: `apt-get source curl=${ombrel_curl_pinned_version}` failed (scripts/setup.sh "
                          "adds the deb-src entry and dpkg-dev; then apt-get update; an archive that no longer "
                          "has this version means the pin in cmake/CurlWindows.cmake must move):\n${output}")
    endif()
  endif()
  list(GET curl_source 0 curl_source)
  get_filename_component(curl_source ${curl_source} DIRECTORY)
  ombrel_check_curl_version(${curl_source})

  message(STATUS "libcurl: building ${curl_source} for ${OMBREL_MINGW_TRIPLET} (about 2 minutes, once)")
  string(TIMESTAMP started "%s")
  file(REMOVE_RECURSE ${ombrel_curl_dir})
  find_program(OMBREL_NINJA ninja REQUIRED)
  ombrel_run("configure" ${CMAKE_COMMAND} -S ${curl_source} -B ${ombrel_curl_dir}/build -G Ninja
    -DCMAKE_MAKE_PROGRAM=${OMBREL_NINJA}
    -DCMAKE_TOOLCHAIN_FILE=${ombrel_curl_toolchain} -DCMAKE_INSTALL_PREFIX=${ombrel_curl_prefix}
    ${ombrel_curl_options})
  # Two jobs: the machine's cores are shared with everything else running.
  ombrel_run("build" ${CMAKE_COMMAND} --build ${ombrel_curl_dir}/build -j 2)
  ombrel_run("install" ${CMAKE_COMMAND} --install ${ombrel_curl_dir}/build)
  string(TIMESTAMP finished "%s")
  math(EXPR seconds "${finished} - ${started}")
  message(STATUS "libcurl: built in ${seconds} s")
  file(WRITE ${ombrel_curl_stamp} "${ombrel_curl_options}\n")
endfunction()

if(NOT EXISTS ${ombrel_curl_stamp})
  ombrel_build_curl()
else()
  # A library built earlier is checked too: the source it came from stays beside it.
  file(GLOB ombrel_curl_source LIST_DIRECTORIES true ${OMBREL_DEPS_DIR}/src/curl-*/CMakeLists.txt)
  foreach(source ${ombrel_curl_source})
    get_filename_component(source ${source} DIRECTORY)
    ombrel_check_curl_version(${source})
  endforeach()
endif()

add_library(ombrel_zlib INTERFACE)
target_link_libraries(ombrel_zlib INTERFACE ${ombrel_zlib_dir}/lib/libz.a)

add_library(ombrel_curl INTERFACE)
target_include_directories(ombrel_curl INTERFACE ${ombrel_curl_prefix}/include)
# OMBREL_CURL_WITHOUT_PROXY: this libcurl rejects the proxy options (it has no proxy to disable).
target_compile_definitions(ombrel_curl INTERFACE CURL_STATICLIB OMBREL_CURL_WITHOUT_PROXY)
# Schannel and SSPI (secur32, crypt32), sockets (ws2_32), random numbers (bcrypt, advapi32).
target_link_libraries(ombrel_curl INTERFACE
  ${ombrel_curl_prefix}/lib/libcurl.a ombrel_zlib
  ws2_32 crypt32 secur32 bcrypt advapi32)
