#include "common/float_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ombrel {

std::string shortest_float_text(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";
  if (magnitude == 0.0) return out + "0.0";

  // Shortest round-trip digits in scientific form, e.g. "1.2345e-07" or "5e-324": the fewest
  // correctly rounded significant digits that read back as the same double (17 always do).
  // printf/strtod rather than std::to_chars, whose floating-point tables would add ~190 KB to
  // the shipped exe. Whatever radix character the C locale uses, strtod reads it back.
  char buffer[64];
  int written = 0;
  for (int precision = 0; precision <= 16; ++precision) {
    written = std::snprintf(buffer, sizeof buffer, "%.*e", precision, magnitude);
    if (std::strtod(buffer, nullptr) == magnitude) break;
  }
  const std::string_view scientific(buffer, static_cast<std::size_t>(written));
  const std::size_t e_at = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e_at)) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  const int exponent = std::atoi(std::string(scientific.substr(e_at + 1)).c_str());
  const int length = static_cast<int>(digits.size());

  if (exponent >= -5 && exponent <= 15) {
    if (length - 1 <= exponent) {
      // 1234e7 -> 12340000000.0
      out += digits;
      out.append(static_cast<std::size_t>(exponent + 1 - length), '0');
      out += ".0";
    } else if (exponent >= 0) {
      // 1234e-2 -> 12.34
      out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
      out += '.';
      out += digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
      // 1234e-6 -> 0.001234
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    }
    return out;
  }

  // 1234e30 -> 1.234e+33
  out += digits[0];
  if (length > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += exponent < 0 ? "e-" : "e+";
  out += std::to_string(exponent < 0 ? -exponent : exponent);
  return out;
}

}  // namespace ombrel
