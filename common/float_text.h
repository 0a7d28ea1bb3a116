#pragma once
// Text of a double as the JSON reader's messages show it ("floating point `1e+20`").
#include <string>

namespace ombrel {

// The shortest digits that read back as the same double, laid out as the reader's messages show it:
// plain decimal with at least one fractional digit when the leading digit's power of ten lies
// in -5..15 ("1000.0", "0.0025"), otherwise scientific with a signed exponent ("1e+20",
// "1.2345678901234568e-7"). Zero is "0.0" or "-0.0"; infinities "inf"/"-inf", NaN "NaN".
std::string shortest_float_text(double value);

}  // namespace ombrel
