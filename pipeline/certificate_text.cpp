#include "pipeline/certificate_text.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "common/utf8.h"

namespace ombrel {
namespace {

using namespace std::chrono;

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

class TextReader {
 public:
  explicit TextReader(std::string_view text) : rest_(text) {}

  bool skip(std::string_view literal) {
    if (!rest_.starts_with(literal)) return false;
    rest_.remove_prefix(literal.size());
    return true;
  }

  void skip_spaces() {
    while (skip(" ")) {
    }
  }

  // A number of min_digits to max_digits digits.
  std::optional<int> number(std::size_t min_digits, std::size_t max_digits) {
    std::size_t count = 0;
    int value = 0;
    while (count < max_digits && count < rest_.size() && is_digit(rest_[count])) {
      value = value * 10 + (rest_[count] - '0');
      ++count;
    }
    if (count < min_digits) return std::nullopt;
    rest_.remove_prefix(count);
    return value;
  }

  void skip_fraction() {
    if (!skip(".") && !skip(",")) return;
    while (!rest_.empty() && is_digit(rest_.front())) rest_.remove_prefix(1);
  }

  // The month of OpenSSL's "Jan".."Dec", 1 to 12.
  std::optional<int> month_name() {
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
      if (skip(kMonths[i])) return static_cast<int>(i + 1);
    }
    return std::nullopt;
  }

  bool at_end() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

struct TimeFields {
  std::optional<int> year, month, day, hour, minute, second;
};

std::optional<sys_seconds> to_time(const TimeFields& f) {
  if (!f.year || !f.month || !f.day || !f.hour || !f.minute || !f.second) return std::nullopt;
  const year_month_day date{year{*f.year}, month{static_cast<unsigned>(*f.month)}, day{static_cast<unsigned>(*f.day)}};
  if (!date.ok() || *f.hour > 23 || *f.minute > 59 || *f.second > 59) return std::nullopt;
  return sys_days{date} + hours{*f.hour} + minutes{*f.minute} + seconds{*f.second};
}

// The "HH:MM:SS" and optional fraction of both forms.
void read_clock(TextReader& reader, TimeFields& fields) {
  fields.hour = reader.number(2, 2);
  if (!reader.skip(":")) return;
  fields.minute = reader.number(2, 2);
  if (!reader.skip(":")) return;
  fields.second = reader.number(2, 2);
  reader.skip_fraction();
}

constexpr bool is_name_char(char c) {
  return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.';
}

// The length of an attribute's "CN = " (OpenSSL, `spaced`) or "CN=" at the start of text, 0
// when there is none; its name goes to *name.
std::size_t attribute_head(std::string_view text, bool spaced, std::string_view* name = nullptr) {
  std::size_t length = 0;
  while (length < text.size() && is_name_char(text[length])) ++length;
  const std::string_view equals = spaced ? " = " : "=";
  if (length == 0 || !text.substr(length).starts_with(equals)) return 0;
  if (name != nullptr) *name = text.substr(0, length);
  return length + equals.size();
}

// The length of a separator at the start of text that another attribute follows, 0 when there
// is none. OpenSSL joins attributes of one RDN with " + "; libcurl's reader joins attributes
// with a long name (emailAddress) with "/".
std::size_t separator(std::string_view text, bool spaced) {
  const std::array<std::string_view, 2> separators =
      spaced ? std::array<std::string_view, 2>{", ", " + "} : std::array<std::string_view, 2>{", ", "/"};
  for (const std::string_view mark : separators) {
    if (text.starts_with(mark) && attribute_head(text.substr(mark.size()), spaced) > 0) return mark.size();
  }
  return 0;
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// OpenSSL's value as it was: the quotes around one with special characters gone, "\C3\A9"
// (bytes above 0x7F and control characters) and "\"" taken back.
std::string unescape(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
    } else if (i + 2 < value.size() && hex_value(value[i + 1]) >= 0 && hex_value(value[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(value[i + 1]) * 16 + hex_value(value[i + 2]));
      i += 2;
    } else {
      out += value[++i];
    }
  }
  return out;
}

// One line of valid UTF-8 that fits the limit.
std::string plain_line(std::string_view bytes) {
  std::string text = utf8_lossy(bytes);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  if (text.size() > kMaxCommonNameBytes) {
    std::size_t cut = kMaxCommonNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

std::string two_digits(unsigned value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::optional<sys_seconds> parse_certificate_time(std::string_view text) {
  TextReader reader(text);
  TimeFields fields;
  if (!text.empty() && is_digit(text.front())) {
    // libcurl's reader: "2040-01-01 00:00:00 GMT".
    fields.year = reader.number(4, 4);
    if (!reader.skip("-")) return std::nullopt;
    fields.month = reader.number(2, 2);
    if (!reader.skip("-")) return std::nullopt;
    fields.day = reader.number(2, 2);
    if (!reader.skip(" ")) return std::nullopt;
    read_clock(reader, fields);
  } else {
    // OpenSSL: "Jan  1 00:00:00 2040 GMT", the day padded with a space.
    fields.month = reader.month_name();
    reader.skip_spaces();
    fields.day = reader.number(1, 2);
    if (!reader.skip(" ")) return std::nullopt;
    read_clock(reader, fields);
    if (!reader.skip(" ")) return std::nullopt;
    fields.year = reader.number(4, 4);
  }
  if (!reader.skip(" GMT") || !reader.at_end()) return std::nullopt;
  return to_time(fields);
}

std::string certificate_common_name(std::string_view distinguished_name) {
  const std::string_view dn = distinguished_name;
  // OpenSSL puts spaces around every "=", libcurl's reader none.
  std::size_t first_name = 0;
  while (first_name < dn.size() && is_name_char(dn[first_name])) ++first_name;
  const bool spaced = dn.substr(first_name).starts_with(" = ");

  std::optional<std::string_view> common_name;
  std::size_t position = 0;
  for (;;) {
    std::string_view name;
    const std::size_t head = attribute_head(dn.substr(position), spaced, &name);
    if (head == 0) break;
    const std::size_t start = position + head;
    std::size_t end = start;
    std::size_t separator_length = 0;
    bool quoted = false;
    // Only OpenSSL quotes and escapes; libcurl's reader writes values as they are.
    for (; end < dn.size(); ++end) {
      if (spaced && dn[end] == '\\') {
        ++end;
      } else if (spaced && dn[end] == '"') {
        quoted = !quoted;
      } else if (!quoted && (separator_length = separator(dn.substr(end), spaced)) > 0) {
        break;
      }
    }
    end = std::min(end, dn.size());
    if (name == "CN") common_name = dn.substr(start, end - start);
    if (separator_length == 0) break;
    position = end + separator_length;
  }
  if (!common_name) return {};
  return plain_line(spaced ? unescape(*common_name) : std::string(*common_name));
}

std::string utc_date_text(sys_seconds time) {
  const year_month_day date{floor<days>(time)};
  const int year_number = static_cast<int>(date.year());
  std::string text = std::to_string(year_number);
  if (year_number >= 0 && year_number < 1000) text.insert(0, 4 - text.size(), '0');
  return text + "-" + two_digits(static_cast<unsigned>(date.month())) + "-" +
         two_digits(static_cast<unsigned>(date.day()));
}

}  // namespace ombrel
