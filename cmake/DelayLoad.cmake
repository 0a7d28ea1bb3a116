# Delay-loading of system DLLs that are not on the KnownDLLs list.
#
# The loader resolves an executable's static imports before its first instruction runs, and for
# a DLL outside KnownDLLs it looks in the executable's folder first: a bcrypt.dll planted in a
# Downloads folder would be loaded into the installer. Imports from such DLLs therefore go
# through delay-load libraries instead: the DLL is loaded on first use, by which time the
# program has limited the DLL search to System32.
#
# ombrel_delay_load(target dll...) makes, once per build dir, a delay-import library for each
# DLL from the symbols of MinGW's own import library, under the import library's own name in a
# folder that `target` searches first: every "-l<dll>" of the link, whichever library asked for
# it, then gets the delay-load version.

function(ombrel_delay_load target)
  if(NOT WIN32)
    return()
  endif()
  get_filename_component(tool_prefix ${CMAKE_C_COMPILER} NAME)
  string(REGEX REPLACE "gcc(-posix)?$" "" tool_prefix ${tool_prefix})
  find_program(OMBREL_DLLTOOL ${tool_prefix}dlltool REQUIRED)
  find_program(OMBREL_NM ${tool_prefix}nm REQUIRED)
  set(out_dir ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${out_dir})
  foreach(dll ${ARGN})
    set(delay_lib ${out_dir}/lib${dll}.a)
    find_library(import_lib_${dll} NAMES lib${dll}.a ${dll} PATHS ${CMAKE_FIND_ROOT_PATH}/lib NO_DEFAULT_PATH
                 REQUIRED NO_CACHE)
    if(NOT EXISTS ${delay_lib} OR ${import_lib_${dll}} IS_NEWER_THAN ${delay_lib})
      execute_process(COMMAND ${OMBREL_NM} -g --defined-only ${import_lib_${dll}}
                      OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "nm failed on ${import_lib_${dll}}")
      endif()
      # Every function the import library knows: its "__imp_" pointers, minus the C name
      # prefix that 32-bit symbols carry ("__imp__BCryptGenRandom@16" -> "BCryptGenRandom@16").
      string(REGEX MATCHALL "__imp__?[A-Za-z0-9_@?$]+" imports "${symbols}")
      set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
      foreach(symbol ${imports})
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
          string(REGEX REPLACE "^__imp__" "" name ${symbol})
        else()
          string(REGEX REPLACE "^__imp_" "" name ${symbol})
        endif()
        string(APPEND def "  ${name}\n")
      endforeach()
      file(WRITE ${out_dir}/${dll}.def "${def}")
      execute_process(COMMAND ${OMBREL_DLLTOOL} --kill-at --input-def ${out_dir}/${dll}.def
                              --dllname ${dll}.dll --output-delaylib ${delay_lib}
                      RESULT_VARIABLE result ERROR_VARIABLE error)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "dlltool could not make the delay-load library of ${dll}: ${error}")
      endif()
    endif()
  endforeach()
  target_link_directories(${target} BEFORE PRIVATE ${out_dir})
endfunction()
