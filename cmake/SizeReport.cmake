# ombrel_size_report(<target>): the link of <target> also writes a link map, and every link
# prints the executable's size and its largest contributors (scripts/size-report.py), so a
# change that adds tens of kilobytes is seen in the build output at once. Informational only.

function(ombrel_size_report target)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE "-Wl,-Map=${map}")
  set(test_build_flag "")
  if(OMBREL_TEST_BUILD)
    set(test_build_flag --test-build)
  endif()
  if(Python3_Interpreter_FOUND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/size-report.py $<TARGET_FILE:${target}> ${map}
              --publisher-check ${OMBREL_PUBLISHER_CHECK_STATE} ${test_build_flag}
      VERBATIM)
  endif()
endfunction()
