# Script mode (cmake -P): writes a C++ source holding every translation table, so the executable
# needs no file at run time. The tables' bytes, one after the other in row order, are stored as
# one gzip stream (a quarter of their plain size) that the program inflates once, on first use;
# each row names its table's place in the inflated bytes, which are the files' bytes exactly
# (CR LF line ends, UTF-8 texts).
#   -DTABLE_DIR=<folder of <code>.json>  -DCODES=<codes separated by ,>  -DOUTPUT=<file.cpp>
cmake_minimum_required(VERSION 3.25)

if(NOT TABLE_DIR OR NOT CODES OR NOT OUTPUT)
  message(FATAL_ERROR "EmbedTranslationTables: TABLE_DIR, CODES and OUTPUT are required")
endif()
string(REPLACE "," ";" codes "${CODES}")

get_filename_component(work_dir "${OUTPUT}" DIRECTORY)
set(plain "${work_dir}/locale_tables.bin")
set(files "")
set(rows "")
set(count 0)
set(offset 0)
foreach(code IN LISTS codes)
  set(file "${TABLE_DIR}/${code}.json")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "EmbedTranslationTables: missing ${file}")
  endif()
  list(APPEND files "${file}")
  file(SIZE "${file}" size)
  string(APPEND rows "    PackedTable{\"${code}\", ${offset}, ${size}},\n")
  math(EXPR offset "${offset} + ${size}")
  math(EXPR count "${count} + 1")
endforeach()
# Concatenated byte for byte (a CMake string would not keep the CRs).
execute_process(COMMAND "${CMAKE_COMMAND}" -E cat ${files} OUTPUT_FILE "${plain}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "EmbedTranslationTables: could not concatenate the tables")
endif()
file(SIZE "${plain}" plain_size)
if(NOT plain_size EQUAL offset)
  message(FATAL_ERROR "EmbedTranslationTables: the tables changed while they were read")
endif()

file(REMOVE "${plain}.gz")
file(ARCHIVE_CREATE OUTPUT "${plain}.gz" PATHS "${plain}" FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
file(READ "${plain}.gz" gzip_hex HEX)
file(REMOVE "${plain}" "${plain}.gz")
# Zero the gzip header's time stamp so the source changes only with the tables.
string(SUBSTRING "${gzip_hex}" 0 8 gzip_head)
string(SUBSTRING "${gzip_hex}" 16 -1 gzip_tail)
string(REGEX REPLACE "(..)" "0x\\1," gzip_bytes "${gzip_head}00000000${gzip_tail}")
string(REPEAT "0x..," 16 gzip_line)
string(REGEX REPLACE "(${gzip_line})" "\\1\n" gzip_bytes "${gzip_bytes}")

set(content "// Generated at build time from translations/tables/*.json; do not edit.
#include <array>
#include <string>

#include \"common/gunzip.h\"
#include \"translations/locale_tables.h\"

namespace ombrel {
namespace {

constexpr unsigned char kTablesGzip[] = {
${gzip_bytes}
};
constexpr std::size_t kTablesSize = ${offset};

struct PackedTable {
  std::string_view code;
  std::size_t offset;
  std::size_t size;
};
constexpr std::array<PackedTable, ${count}> kPacked{
${rows}};

struct Tables {
  Tables() : bytes(gunzip_exact(kTablesGzip, kTablesSize).value_or(std::string())) {
    // A stream that does not inflate leaves every table empty: each text is then its key.
    for (std::size_t i = 0; i < kPacked.size(); ++i) {
      const PackedTable& packed = kPacked[i];
      rows[i] = LocaleTable{packed.code, bytes.empty() ? std::string_view() : std::string_view(bytes).substr(packed.offset, packed.size)};
    }
  }
  std::string bytes;
  std::array<LocaleTable, ${count}> rows{};
};

}  // namespace

std::span<const LocaleTable> locale_tables() {
  static const Tables tables;  // inflated once, thread-safe
  return tables.rows;
}

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
