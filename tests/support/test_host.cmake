# Wiring of the test distribution host (tools/testhost/testhost.py) into the tests.
# Natively every test process starts its own host (tests/support/test_host.cpp). The Windows
# tests run under Wine and cannot start a Linux process, so ctest starts one host for the run
# (fixture "testhost") and hands its state folder over in OMBREL_TEST_HOST_DIR.
set(ombrel_testhost_script ${CMAKE_SOURCE_DIR}/tools/testhost/testhost.py)
target_compile_definitions(ombrel_test_support PRIVATE
  OMBREL_TESTHOST_SCRIPT="${ombrel_testhost_script}"
  OMBREL_TEST_CA_DIR="${OMBREL_TEST_CA_DIR}")

if(WIN32 AND OMBREL_TEST_CA_DIR)
  find_program(OMBREL_PYTHON3 python3 REQUIRED)
  set(state_dir ${CMAKE_BINARY_DIR}/testhost)
  add_test(NAME testhost_start
    COMMAND ${OMBREL_PYTHON3} ${ombrel_testhost_script} start --state-dir ${state_dir}
            --ca-cert ${OMBREL_TEST_CA_DIR}/ca.pem --ca-key ${OMBREL_TEST_CA_DIR}/ca.key
            --cert-cache ${OMBREL_TEST_CA_DIR}/leaf-cache --listen main,plain,wrongname,expired,notyetvalid,unknownca)
  add_test(NAME testhost_stop COMMAND ${OMBREL_PYTHON3} ${ombrel_testhost_script} stop --state-dir ${state_dir})
  set_tests_properties(testhost_start PROPERTIES FIXTURES_SETUP testhost)
  set_tests_properties(testhost_stop PROPERTIES FIXTURES_CLEANUP testhost)
  foreach(area common translations platform app pipeline)
    if(TARGET ${area}_tests)
      set_property(TEST ${area}_tests APPEND PROPERTY FIXTURES_REQUIRED testhost)
      set_property(TEST ${area}_tests APPEND PROPERTY ENVIRONMENT "OMBREL_TEST_HOST_DIR=Z:${state_dir}")
      # Two test executables must not reset the one shared host under each other.
      set_property(TEST ${area}_tests APPEND PROPERTY RESOURCE_LOCK testhost)
    endif()
  endforeach()
endif()
