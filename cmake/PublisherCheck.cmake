# The publisher whose Authenticode signature a downloaded installer must carry before it runs:
#   OMBREL_PUBLISHER_NAME   exact common name of the signing certificate
#   OMBREL_PUBLISHER_ROOTS  PEM file of CA certificates; the signer's chain must hold one of them
# A Windows product build (not a test build) must name both, or say OMBREL_PUBLISHER_CHECK=OFF:
# a shipped exe that silently checks nothing would run whatever bytes reach the temporary folder.
# OFF holds only for the configure that passes it (it is read, then dropped from the cache), so a
# later plain configure of the same folder fails closed again instead of quietly keeping it.
# Builds for other systems have no Authenticode and check nothing.
# Each certificate is compiled in as the SHA-256 of its public key (DER SubjectPublicKeyInfo), so
# a CA re-issued or cross-signed with the same key still matches.
# Windows test builds that name no publisher make a test publisher (a root CA and a code-signing
# certificate under it) in the build folder and check against it, so the demo payload and the
# tests' files are signed the way a release would be.

set(OMBREL_PUBLISHER_NAME "" CACHE STRING "Exact common name of the certificate that signs the payload installer (empty: no check)")
set(OMBREL_PUBLISHER_ROOTS "" CACHE FILEPATH "PEM file of the CA certificates one of which the signer's chain must hold")

set(ombrel_check_off_explicitly FALSE)
if(DEFINED CACHE{OMBREL_PUBLISHER_CHECK})
  # Earlier versions of this file kept the value in the cache with this help text: such a leftover
  # was said to an earlier configure, not to this one.
  get_property(help CACHE OMBREL_PUBLISHER_CHECK PROPERTY HELPSTRING)
  if(NOT help MATCHES "^OFF: a Windows product build without the publisher check"
     AND NOT OMBREL_PUBLISHER_CHECK STREQUAL "" AND NOT OMBREL_PUBLISHER_CHECK)
    set(ombrel_check_off_explicitly TRUE)
  endif()
  unset(OMBREL_PUBLISHER_CHECK CACHE)
endif()

# Where a test build keeps its test publisher: root.pem/root.key, signer.pem/signer.key and
# chain.pem (signer then root, for osslsigncode), name.txt (the signer's common name). Empty when the build has none.
set(OMBREL_TEST_PUBLISHER_DIR "")

if(WIN32 AND OMBREL_TEST_BUILD AND NOT OMBREL_PUBLISHER_NAME AND NOT OMBREL_PUBLISHER_ROOTS)
  set(OMBREL_TEST_PUBLISHER_DIR ${CMAKE_BINARY_DIR}/test-publisher)
  # Not ASCII on purpose: the name goes through the system's UTF-16 and back.
  set(test_publisher_name "Ombrel Tëst Publisher")
  if(NOT EXISTS ${OMBREL_TEST_PUBLISHER_DIR}/chain.pem)
    find_program(OMBREL_OPENSSL openssl REQUIRED)
    file(MAKE_DIRECTORY ${OMBREL_TEST_PUBLISHER_DIR})
    string(RANDOM LENGTH 8 root_tag)
    file(WRITE ${OMBREL_TEST_PUBLISHER_DIR}/signer.ext
         "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    foreach(step
        "req;-x509;-newkey;rsa:2048;-nodes;-sha256;-days;3650;-keyout;root.key;-out;root.pem;-subj;/O=Ombrel Tests/CN=Ombrel Test Publisher Root ${root_tag};-addext;basicConstraints=critical,CA:TRUE;-addext;keyUsage=critical,keyCertSign,cRLSign"
        "req;-newkey;rsa:2048;-nodes;-keyout;signer.key;-out;signer.csr;-utf8;-subj;/O=Ombrel Tests/CN=${test_publisher_name}"
        "x509;-req;-in;signer.csr;-CA;root.pem;-CAkey;root.key;-CAcreateserial;-days;3650;-sha256;-extfile;signer.ext;-out;signer.pem")
      execute_process(COMMAND ${OMBREL_OPENSSL} ${step} WORKING_DIRECTORY ${OMBREL_TEST_PUBLISHER_DIR}
                      RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "Could not make the test publisher: ${error}")
      endif()
    endforeach()
    file(READ ${OMBREL_TEST_PUBLISHER_DIR}/signer.pem signer_pem)
    file(READ ${OMBREL_TEST_PUBLISHER_DIR}/root.pem root_pem)
    file(WRITE ${OMBREL_TEST_PUBLISHER_DIR}/chain.pem "${signer_pem}${root_pem}")
  endif()
  file(CONFIGURE OUTPUT ${OMBREL_TEST_PUBLISHER_DIR}/name.txt CONTENT "${test_publisher_name}")
  # Plain variables over the empty cache values: the rest of the build sees them as set.
  set(OMBREL_PUBLISHER_NAME "${test_publisher_name}")
  set(OMBREL_PUBLISHER_ROOTS ${OMBREL_TEST_PUBLISHER_DIR}/root.pem)
endif()

set(ombrel_publisher_pins "")
if(ombrel_check_off_explicitly AND (OMBREL_PUBLISHER_NAME OR OMBREL_PUBLISHER_ROOTS))
  message(FATAL_ERROR "OMBREL_PUBLISHER_CHECK=OFF but a publisher is named: clear OMBREL_PUBLISHER_NAME and "
                      "OMBREL_PUBLISHER_ROOTS, or drop OMBREL_PUBLISHER_CHECK=OFF")
endif()
set(OMBREL_PUBLISHER_CHECK_STATE off)
if(NOT OMBREL_PUBLISHER_NAME AND NOT OMBREL_PUBLISHER_ROOTS)
  if(WIN32 AND NOT ombrel_check_off_explicitly)
    message(FATAL_ERROR "This Windows build names no publisher, so the downloaded installer would run unchecked. "
                        "Set OMBREL_PUBLISHER_NAME (the exact common name of the certificate that signs the "
                        "payload installer) and OMBREL_PUBLISHER_ROOTS (a PEM file of the publisher's CA "
                        "certificates), or pass -DOMBREL_PUBLISHER_CHECK=OFF to build without the check (it holds "
                        "for that configure only).")
  elseif(WIN32)
    message(WARNING "Publisher check: off (OMBREL_PUBLISHER_CHECK=OFF, for this configure only): the downloaded "
                    "installer runs without a signature check. Do not ship this build.")
  else()
    message(STATUS "Publisher check: off (no Authenticode on this system)")
  endif()
else()
  set(OMBREL_PUBLISHER_CHECK_STATE on)
  if(NOT OMBREL_PUBLISHER_NAME OR NOT OMBREL_PUBLISHER_ROOTS)
    message(FATAL_ERROR "OMBREL_PUBLISHER_NAME and OMBREL_PUBLISHER_ROOTS go together: set both or neither")
  endif()
  if(NOT WIN32)
    message(FATAL_ERROR "The publisher check needs Authenticode, which only the Windows build has: "
                        "leave OMBREL_PUBLISHER_NAME and OMBREL_PUBLISHER_ROOTS empty here")
  endif()
  if(NOT EXISTS ${OMBREL_PUBLISHER_ROOTS})
    message(FATAL_ERROR "OMBREL_PUBLISHER_ROOTS ${OMBREL_PUBLISHER_ROOTS} does not exist")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${OMBREL_PUBLISHER_ROOTS})
  find_program(OMBREL_OPENSSL openssl REQUIRED)
  file(READ ${OMBREL_PUBLISHER_ROOTS} roots_pem)
  string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" roots "${roots_pem}")
  if(NOT roots)
    message(FATAL_ERROR "${OMBREL_PUBLISHER_ROOTS} holds no PEM certificate")
  endif()
  set(scratch ${CMAKE_BINARY_DIR}/generated/publisher-root)
  set(count 0)
  foreach(root ${roots})
    file(WRITE ${scratch}.pem "${root}\n")
    file(REMOVE ${scratch}.der)
    # The pin is the key, not the certificate: the SHA-256 of its DER SubjectPublicKeyInfo.
    execute_process(COMMAND ${OMBREL_OPENSSL} x509 -in ${scratch}.pem -noout -pubkey
                    COMMAND ${OMBREL_OPENSSL} pkey -pubin -outform DER -out ${scratch}.der
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0 OR NOT EXISTS ${scratch}.der)
      message(FATAL_ERROR "${OMBREL_PUBLISHER_ROOTS}: certificate ${count} does not read: ${error}")
    endif()
    file(SHA256 ${scratch}.der digest)
    string(REGEX REPLACE "(..)" "0x\\1," digest "${digest}")
    string(APPEND ombrel_publisher_pins "    {${digest}},\n")
    math(EXPR count "${count} + 1")
  endforeach()
  file(REMOVE ${scratch}.pem ${scratch}.der)
  message(STATUS "Publisher check: on, signer \"${OMBREL_PUBLISHER_NAME}\" under the ${count} pinned "
                 "key(s) of the certificates in ${OMBREL_PUBLISHER_ROOTS}")
endif()

# For the size report of the product exe (scripts/size-report.py --publisher-check).
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/publisher-check.txt CONTENT "${OMBREL_PUBLISHER_CHECK_STATE}\n")

# Read by common/build_config.cpp; rewritten only when its content changes. An empty list still
# needs one element in C++, hence the count beside it.
string(LENGTH "${ombrel_publisher_pins}" pins_length)
if(pins_length EQUAL 0)
  set(ombrel_publisher_pins "    {},\n")
  set(ombrel_publisher_pin_count 0)
else()
  set(ombrel_publisher_pin_count ${count})
endif()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/publisher_values.inc CONTENT
"// Generated by cmake/PublisherCheck.cmake. Do not edit.
constexpr char kGeneratedPublisherName[] = R\"ombrel_name(@OMBREL_PUBLISHER_NAME@)ombrel_name\";
constexpr std::size_t kGeneratedPublisherPinCount = @ombrel_publisher_pin_count@;
constexpr std::array<std::uint8_t, 32> kGeneratedPublisherPins[] = {
@ombrel_publisher_pins@};
" @ONLY)
