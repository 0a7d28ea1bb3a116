#include "common/float_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace ombrel {

std::string shortest_float_text(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";
  if (magnitude == 0.0) return out + "0.0";

  // Shortest round-trip digits in scientific form, e.g. "1.2345e-07" or "5e-324".
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e_at = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e_at)) {
    if (c != '.') digits.push_back(c);
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
      out += digits.substr(0, static_cast<std::size_t>(exponent + 1));
      out += '.';
      out += digits.substr(static_cast<std::size_t>(exponent + 1));
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
