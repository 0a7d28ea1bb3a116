# Run before the link of an executable that uses delay-load libraries (see DelayLoad.cmake):
# writes a response file that names, as undefined symbols, the delay-load stub of every
# function the link's objects and archives call through its "__imp_" slot.
#
# ld drops an import member's stub when only its slot is referenced; the slot then keeps 0
# and the first call jumps to address 0. Naming the stub on the command line keeps it.
#
# Arguments (-D): NM, DEF_DIR (the .def files of the delay-load libraries), DLLS,
# SYMBOL_PREFIX ("_" for 32-bit x86, else empty), OBJECT_DIR (the target's objects), ARCHIVES
# (static libraries in the link), OUTPUT (the response file). Lists are "|"-separated.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" DLLS "${DLLS}")
string(REPLACE "|" ";" ARCHIVES "${ARCHIVES}")

set(referenced "")
file(GLOB_RECURSE objects ${OBJECT_DIR}/*.obj ${OBJECT_DIR}/*.o)
foreach(input ${objects} ${ARCHIVES})
  execute_process(COMMAND ${NM} -u ${input} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${input}")
  endif()
  string(REGEX MATCHALL "__imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
  list(APPEND referenced ${imports})
endforeach()
list(REMOVE_DUPLICATES referenced)

set(options "")
foreach(dll ${DLLS})
  file(STRINGS ${DEF_DIR}/${dll}.def lines REGEX "^  ")
  foreach(line ${lines})
    string(STRIP "${line}" name)
    if("__imp_${SYMBOL_PREFIX}${name}" IN_LIST referenced)
      string(APPEND options "-Wl,-u,${SYMBOL_PREFIX}${name}\n")
    endif()
  endforeach()
endforeach()

# Rewritten only on change, so an unchanged list does not look like a new link input.
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL options)
  file(WRITE ${OUTPUT} "${options}")
endif()
