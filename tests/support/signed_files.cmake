# Files signed at test time for the Windows signature tests (tests/support/signed_files.py):
# ctest makes them from the test child program with the build's test publisher (fixture
# "signed_files"; timestamps from tools/timestamp_responder) and hands their folder to the
# pipeline tests in OMBREL_SIGNED_FILES_DIR.
# Those tests also run the Windows manifest-check on them.
if(NOT (WIN32 AND OMBREL_TEST_PUBLISHER_DIR AND TARGET pipeline_tests))
  return()
endif()
find_program(OMBREL_PYTHON3 python3 REQUIRED)
find_program(OMBREL_OSSLSIGNCODE osslsigncode REQUIRED)
# Dates the timestamps of tools/timestamp_responder inside an old certificate's validity.
find_program(OMBREL_FAKETIME faketime REQUIRED)
set(signed_dir ${CMAKE_BINARY_DIR}/signed-files)
add_test(NAME signed_files
  COMMAND ${OMBREL_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/support/signed_files.py
          --publisher-dir ${OMBREL_TEST_PUBLISHER_DIR} --name ${OMBREL_PUBLISHER_NAME}
          --program $<TARGET_FILE:ombrel_test_child> --out ${signed_dir})
set_tests_properties(signed_files PROPERTIES FIXTURES_SETUP signed_files)
set_property(TEST pipeline_tests APPEND PROPERTY FIXTURES_REQUIRED signed_files)
set_property(TEST pipeline_tests APPEND PROPERTY ENVIRONMENT "OMBREL_SIGNED_FILES_DIR=Z:${signed_dir}")
add_dependencies(pipeline_tests manifest-check)
