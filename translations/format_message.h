#pragma once
// Puts one already-formatted argument into a printf-style message template.
#include <string>
#include <string_view>

namespace ombrel {

// Not a printf: the caller has already turned its value into text, and a conversion such as
// %d, %s, %lu or %x only marks the place. The argument goes, unchanged, to the first
// conversion; later conversions vanish; "%%" gives "%"; a template that ends inside a
// conversion ends with one "%". Never fails.
std::string format_message(std::string_view message_template, std::string_view argument);

}  // namespace ombrel
