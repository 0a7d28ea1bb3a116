#include "translations/translation_table.h"

#include "common/json_reader.h"
#include "translations/locale_tables.h"

namespace ombrel {

TranslationTable parse_translation_table(std::string_view json) {
  auto members = json::parse_string_object(json);
  TranslationTable table;
  if (!members) return table;
  table.reserve(members->size());
  for (auto& [key, text] : *members) {
    table.insert_or_assign(std::move(key), std::move(text));
  }
  return table;
}

TranslationTable load_table(std::string_view locale_code) {
  for (const LocaleTable& row : locale_tables()) {
    if (row.code == locale_code) return parse_translation_table(row.json);
  }
  return {};
}

}  // namespace ombrel
