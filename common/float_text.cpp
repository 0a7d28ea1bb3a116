#include "common/float_text.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ombrel {
namespace {

// A non-negative integer of any size in 32-bit limbs, least significant first: just enough to
// write a double's exact value in decimal.
class BigNumber {
 public:
  explicit BigNumber(std::uint64_t value) {
    for (; value != 0; value >>= 32) limbs_.push_back(static_cast<std::uint32_t>(value));
  }

  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  void multiply_by_power(std::uint32_t base, std::uint32_t largest_power, int power_exponent, int exponent) {
    for (; exponent >= power_exponent; exponent -= power_exponent) multiply(largest_power);
    for (; exponent > 0; --exponent) multiply(base);
  }

  // Divides in place; returns the remainder.
  std::uint32_t divide(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      const std::uint64_t current = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(current / divisor);
      remainder = current % divisor;
    }
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    return static_cast<std::uint32_t>(remainder);
  }

  // Decimal digits without leading zeros ("0" for zero); consumes the number.
  std::string take_decimal() {
    std::string reversed;
    do {
      std::uint32_t chunk = divide(1'000'000'000);
      for (int i = 0; i < 9; ++i, chunk /= 10) reversed.push_back(static_cast<char>('0' + chunk % 10));
    } while (!limbs_.empty());
    while (reversed.size() > 1 && reversed.back() == '0') reversed.pop_back();
    return std::string(reversed.rbegin(), reversed.rend());
  }

 private:
  std::vector<std::uint32_t> limbs_;
};

// digits × 10^exponent, digits without leading zeros.
struct Decimal {
  std::string digits;
  int exponent;
  // Power of ten of the leading digit.
  int leading() const { return static_cast<int>(digits.size()) - 1 + exponent; }
};

// The exact value of significand × 2^binary_exponent (significand > 0).
Decimal exact_decimal(std::uint64_t significand, int binary_exponent) {
  BigNumber number(significand);
  if (binary_exponent >= 0) {
    number.multiply_by_power(2, 1u << 31, 31, binary_exponent);
    return {number.take_decimal(), 0};
  }
  // m × 2^-k = m × 5^k / 10^k
  number.multiply_by_power(5, 1'220'703'125, 13, -binary_exponent);
  return {number.take_decimal(), binary_exponent};
}

// Sign of a - b for positive decimals.
int compare(const Decimal& a, const Decimal& b) {
  if (a.leading() != b.leading()) return a.leading() < b.leading() ? -1 : 1;
  const std::size_t length = std::max(a.digits.size(), b.digits.size());
  for (std::size_t i = 0; i < length; ++i) {
    const char x = i < a.digits.size() ? a.digits[i] : '0';
    const char y = i < b.digits.size() ? b.digits[i] : '0';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// Whether `candidate` lies between the halfway points to the neighbours, which it may touch
// when reading rounds such a tie to the value.
bool reads_back(const Decimal& candidate, const Decimal& lower, const Decimal& upper, bool halfway_reads_back) {
  const int below = compare(candidate, upper);
  const int above = compare(candidate, lower);
  return (below < 0 || (below == 0 && halfway_reads_back)) && (above > 0 || (above == 0 && halfway_reads_back));
}

// One unit more in the last digit, keeping the digit count: 1299e0 -> 1300e0, 999e0 -> 100e1.
Decimal next_up(Decimal value) {
  std::string& digits = value.digits;
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) {
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    ++value.exponent;
  } else {
    ++digits[i - 1];
  }
  return value;
}

// `value` correctly rounded to `count` significant digits, ties to even, as printf's "%.*e"
// does: exactly `count` digits and the power of ten of the first.
Decimal round_to_digits(const Decimal& value, std::size_t count) {
  std::string head = value.digits.substr(0, count);
  int leading = value.leading();
  if (value.digits.size() > count) {
    const std::string_view rest = std::string_view(value.digits).substr(count);
    const bool above_half =
        rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string_view::npos);
    const bool half = rest[0] == '5' && !above_half;
    if (above_half || (half && (head.back() - '0') % 2 == 1)) {
      Decimal up = next_up({head, leading - static_cast<int>(head.size()) + 1});
      leading = up.leading();
      head = std::move(up.digits);
    }
  }
  head.resize(count, '0');
  return {head, leading - static_cast<int>(count) + 1};
}

// Shortest round-trip digits of a positive finite double: the fewest correctly rounded
// significant digits (17 always do) that read back as the same double, i.e. that lie inside the
// interval of numbers rounding to it. Exact integer arithmetic rather than printf/strtod, whose
// C99 versions would add about 40 KB to the shipped exe, or std::to_chars, whose tables would
// add about 190 KB.
Decimal shortest_digits(double magnitude) {
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased_exponent = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t m = biased_exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int e = biased_exponent == 0 ? -1074 : biased_exponent - 1075;
  const Decimal exact = exact_decimal(m, e);
  // Halfway to the neighbours; below a power of two the lower neighbour is half as far.
  const Decimal upper = exact_decimal(2 * m + 1, e - 1);
  const Decimal lower =
      fraction == 0 && biased_exponent > 1 ? exact_decimal(4 * m - 1, e - 2) : exact_decimal(2 * m - 1, e - 1);
  const bool halfway_reads_back = m % 2 == 0;  // reading rounds a tie to the even significand

  for (std::size_t count = 1; count < 17; ++count) {
    Decimal candidate = round_to_digits(exact, count);
    // At a power of two the interval reaches twice as far up as down, so digits rounded down can
    // miss it while the next digits up, though farther from the value, still read back.
    if (!reads_back(candidate, lower, upper, halfway_reads_back) && compare(candidate, exact) < 0)
      candidate = next_up(std::move(candidate));
    if (reads_back(candidate, lower, upper, halfway_reads_back)) return candidate;
  }
  return round_to_digits(exact, 17);
}

// Appends `value` laid out as shortest_float_text describes.
void append_layout(std::string& out, const Decimal& value) {
  const std::string& digits = value.digits;
  const int exponent = value.leading();
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
    return;
  }

  // 1234e30 -> 1.234e+33
  out += digits[0];
  if (length > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += exponent < 0 ? "e-" : "e+";
  out += std::to_string(exponent < 0 ? -exponent : exponent);
}

}  // namespace

std::string shortest_float_text(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";
  if (magnitude == 0.0) return out + "0.0";
  append_layout(out, shortest_digits(magnitude));
  return out;
}

}  // namespace ombrel
