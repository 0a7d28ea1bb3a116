#pragma once
// The translation tables compiled into the program (generated from translations/tables/).
#include <span>
#include <string_view>

namespace ombrel {

struct LocaleTable {
  std::string_view code;  // language and region joined by "_", e.g. "pt_BR" or "es_419"
  std::string_view json;  // the table's JSON text, byte for byte as stored
};

// The 22 rows, English first; the exact-match pass of the locale selection uses this order.
std::span<const LocaleTable> locale_tables();

}  // namespace ombrel
