#include "pipeline/certificate_text.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

// Plain pointer loops: this code only runs after a refused certificate, and should cost the
// exe as little as it can.
namespace ombrel {
namespace {

using namespace std::chrono;

// The Windows builds use libcurl over Schannel, whose texts come from libcurl's own reader;
// only the Linux builds (libcurl over OpenSSL) need OpenSSL's forms, so the exe carries no code
// for them.
#ifdef _WIN32
constexpr bool kOpenSslForms = false;
#else
constexpr bool kOpenSslForms = true;
#endif

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A UtcTime's characters, '0' standing for any digit.
constexpr std::string_view kTimeShape = "0000-00-00 00:00:00";

constexpr bool is_name_char(char c) {
  return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.';
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;  // OpenSSL writes upper case
}

// The length of an attribute's name and equals sign at p ("CN=", OpenSSL's "CN = "), 0 when
// none begins there.
std::size_t attribute_head(const char* p, const char* end) {
  const char* q = p;
  while (q < end && is_name_char(*q)) ++q;
  if (q == p) return 0;
  if (q < end && *q == '=') return static_cast<std::size_t>(q + 1 - p);
  if (kOpenSslForms && end - q >= 3 && q[0] == ' ' && q[1] == '=' && q[2] == ' ') {
    return static_cast<std::size_t>(q + 3 - p);
  }
  return 0;
}

// The length of the separator at p when another attribute follows it: ", ", "/" before an
// attribute with a long name (libcurl's reader) or " + " between the attributes of one RDN
// (OpenSSL); 0 otherwise.
std::size_t separator_length(const char* p, const char* end) {
  std::size_t length = 0;
  if (end - p >= 2 && p[0] == ',' && p[1] == ' ') {
    length = 2;
  } else if (p < end && p[0] == '/') {
    length = 1;
  } else if (kOpenSslForms && end - p >= 3 && p[0] == ' ' && p[1] == '+' && p[2] == ' ') {
    length = 3;
  }
  return length > 0 && attribute_head(p + length, end) > 0 ? length : 0;
}

}  // namespace

std::optional<UtcTime> certificate_time(std::string_view text) {
  UtcTime time{};
  if (!text.ends_with(" GMT") || text.size() < kTimeShape.size()) return std::nullopt;
  if (kOpenSslForms && !is_digit(text[0])) {
    // OpenSSL: "Jan  1 00:00:00 2040 GMT", the day padded with a space, the year last.
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t month_at = kMonths.find(text.substr(0, 3));
    if (month_at == std::string_view::npos || month_at % 3 != 0) return std::nullopt;
    const std::size_t month = month_at / 3 + 1;
    std::memcpy(time.data(), text.data() + text.size() - 8, 4);
    time[4] = time[7] = '-';
    time[5] = static_cast<char>('0' + month / 10);
    time[6] = static_cast<char>('0' + month % 10);
    time[8] = text[4] == ' ' ? '0' : text[4];
    time[9] = text[5];
    std::memcpy(time.data() + 10, text.data() + 6, 9);
  } else {
    // libcurl's reader: "2040-01-01 00:00:00 GMT", fractional seconds after the seconds.
    std::memcpy(time.data(), text.data(), kTimeShape.size());
  }
  for (std::size_t i = 0; i < kTimeShape.size(); ++i) {
    if (kTimeShape[i] == '0' ? !is_digit(time[i]) : time[i] != kTimeShape[i]) return std::nullopt;
  }
  return time;
}

CertificateName certificate_common_name(std::string_view distinguished_name) {
  const char* const end = distinguished_name.data() + distinguished_name.size();
  const char* value = nullptr;
  const char* value_end = nullptr;
  bool openssl = false;
  // Attribute by attribute; a value runs to the next separator that another attribute follows.
  // OpenSSL puts spaces around "=" and alone quotes and escapes; libcurl's reader writes values
  // as they are.
  for (const char* p = distinguished_name.data(); p < end;) {
    const std::size_t head = attribute_head(p, end);
    if (head == 0) break;
    const bool spaced = kOpenSslForms && p[head - 1] == ' ';
    const char* q = p + head;
    std::size_t separator = 0;
    for (bool quoted = false; q < end; ++q) {
      if (spaced && *q == '\\' && q + 1 < end) {
        ++q;
      } else if (spaced && *q == '"') {
        quoted = !quoted;
      } else if (!quoted && (separator = separator_length(q, end)) > 0) {
        break;
      }
    }
    if (head == (spaced ? 5U : 3U) && p[0] == 'C' && p[1] == 'N') {
      value = p + head;
      value_end = q;
      openssl = spaced;
    }
    p = q + separator;
    if (separator == 0) break;
  }

  CertificateName name{};
  if (value == nullptr) return name;
  if (openssl && value_end - value >= 2 && value[0] == '"' && value_end[-1] == '"') {
    ++value;
    --value_end;
  }
  std::size_t length = 0;
  for (const char* p = value; p < value_end && length < name.size(); ++p) {
    char c = *p;
    if (openssl && c == '\\' && p + 1 < value_end) {
      c = *++p;
      if (p + 1 < value_end && hex_value(c) >= 0 && hex_value(p[1]) >= 0) {
        c = static_cast<char>(hex_value(c) * 16 + hex_value(*++p));
      }
    }
    const auto byte = static_cast<unsigned char>(c);
    name[length++] = byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  if (length == name.size()) {
    // Room for the NUL: the last byte goes, with the rest of its character.
    std::size_t keep = length - 1;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    std::fill(name.begin() + static_cast<std::ptrdiff_t>(keep), name.end(), '\0');
  }
  return name;
}

UtcTime utc_time(sys_seconds time) {
  const sys_days day_start = floor<days>(time);
  const year_month_day date{day_start};
  const auto second_of_day = static_cast<unsigned>((time - day_start).count());
  const unsigned parts[6] = {static_cast<unsigned>(static_cast<int>(date.year())),
                             static_cast<unsigned>(date.month()),
                             static_cast<unsigned>(date.day()),
                             second_of_day / 3600,
                             second_of_day / 60 % 60,
                             second_of_day % 60};
  UtcTime text{};
  std::memcpy(text.data(), kTimeShape.data(), kTimeShape.size());
  // Each part written from its last digit back: at 3, 6, 9, ... 18.
  for (std::size_t part = 0; part < 6; ++part) {
    for (unsigned value = parts[part], i = 3 + 3 * part; value > 0; --i, value /= 10) {
      text[i] = static_cast<char>('0' + value % 10);
    }
  }
  return text;
}

}  // namespace ombrel
