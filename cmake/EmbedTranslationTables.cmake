# Script mode (cmake -P): writes a C++ source holding the raw bytes of every translation table,
# so the executable needs no file at run time. Every byte becomes a \xHH escape, which keeps the
# CR LF line ends and the UTF-8 texts exactly as stored.
#   -DTABLE_DIR=<folder of <code>.json>  -DCODES=<codes separated by ,>  -DOUTPUT=<file.cpp>
cmake_minimum_required(VERSION 3.25)

if(NOT TABLE_DIR OR NOT CODES OR NOT OUTPUT)
  message(FATAL_ERROR "EmbedTranslationTables: TABLE_DIR, CODES and OUTPUT are required")
endif()
string(REPLACE "," ";" codes "${CODES}")

set(arrays "")
set(rows "")
set(count 0)
foreach(code IN LISTS codes)
  set(file "${TABLE_DIR}/${code}.json")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "EmbedTranslationTables: missing ${file}")
  endif()
  file(READ "${file}" hex HEX)
  # 32 bytes (64 hex digits) per source line, every byte as an escape.
  string(LENGTH "${hex}" length)
  set(lines "")
  set(offset 0)
  while(offset LESS length)
    string(SUBSTRING "${hex}" ${offset} 64 chunk)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" chunk "${chunk}")
    string(APPEND lines "    \"${chunk}\"\n")
    math(EXPR offset "${offset} + 64")
  endwhile()
  string(APPEND arrays "constexpr char k_${code}[] =\n${lines};\n")
  string(APPEND rows "    LocaleTable{\"${code}\", std::string_view(k_${code}, sizeof(k_${code}) - 1)},\n")
  math(EXPR count "${count} + 1")
endforeach()

set(content "// Generated at build time from translations/tables/*.json; do not edit.
#include <array>

#include \"translations/locale_tables.h\"

namespace ombrel {
namespace {

${arrays}
constexpr std::array<LocaleTable, ${count}> kTables{
${rows}};

}  // namespace

std::span<const LocaleTable> locale_tables() { return kTables; }

}  // namespace ombrel
")

# Rewrite only on change so an unrelated rebuild does not recompile the tables.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
