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
# it, then gets the delay-load version. ARCHIVES names the static libraries of the link whose
# calls through "__imp_" slots must keep their stubs (see KeepDelayStubs.cmake).
#
# ombrel_delay_load(<target> DLLS <dll>... ARCHIVES <library file or generator expression>...)

function(ombrel_delay_load target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DLLS;ARCHIVES")
  if(NOT WIN32)
    return()
  endif()
  get_filename_component(tool_prefix ${CMAKE_C_COMPILER} NAME)
  string(REGEX REPLACE "gcc(-posix)?$" "" tool_prefix ${tool_prefix})
  find_program(OMBREL_DLLTOOL ${tool_prefix}dlltool REQUIRED)
  find_program(OMBREL_NM ${tool_prefix}nm REQUIRED)
  set(out_dir ${CMAKE_BINARY_DIR}/delayload)
  # Libraries made by an older recipe of this file are made again.
  set(recipe ${out_dir}/recipe-4)
  if(NOT EXISTS ${recipe})
    file(REMOVE_RECURSE ${out_dir})
  endif()
  file(MAKE_DIRECTORY ${out_dir})
  file(TOUCH ${recipe})
  foreach(dll ${arg_DLLS})
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
      # The members are named after the DLL (dlltool's default prefix is the output path, which
      # would make the link's order of import sections depend on the build folder).
      execute_process(COMMAND ${OMBREL_DLLTOOL} --kill-at --input-def ${out_dir}/${dll}.def
                              --dllname ${dll}.dll --output-delaylib ${delay_lib} --temp-prefix ${dll}
                      RESULT_VARIABLE result ERROR_VARIABLE error)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "dlltool could not make the delay-load library of ${dll}: ${error}")
      endif()
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${delay_lib})
  endforeach()
  # ld orders import sections by the path of their library: a path relative to the folder the
  # link runs in (Ninja links in the top build folder) keeps that order the same wherever the
  # tree is, where an absolute path would sort before or after /usr/lib depending on it.
  if(CMAKE_GENERATOR MATCHES "Ninja")
    file(RELATIVE_PATH relative_out_dir ${CMAKE_BINARY_DIR} ${out_dir})
    target_link_options(${target} BEFORE PRIVATE -L${relative_out_dir})
  else()
    target_link_directories(${target} BEFORE PRIVATE ${out_dir})
  endif()

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol_prefix "_")
  else()
    set(symbol_prefix "")
  endif()
  set(keep_file ${CMAKE_CURRENT_BINARY_DIR}/${target}-delay-stubs.rsp)
  file(TOUCH ${keep_file})
  # Lists travel "|"-separated: a ";" would split the command's arguments.
  string(REPLACE ";" "|" dll_list "${arg_DLLS}")
  string(REPLACE ";" "|" archive_list "${arg_ARCHIVES}")
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DNM=${OMBREL_NM} -DDEF_DIR=${out_dir} "-DDLLS=${dll_list}"
            -DSYMBOL_PREFIX=${symbol_prefix}
            -DOBJECT_DIR=${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir
            "-DARCHIVES=${archive_list}" -DOUTPUT=${keep_file}
            -P ${CMAKE_SOURCE_DIR}/cmake/KeepDelayStubs.cmake
    VERBATIM)
  target_link_options(${target} PRIVATE "@${keep_file}")
endfunction()
