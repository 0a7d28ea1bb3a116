// The installer exe's own versions of the functions through which libstdc++ throws its standard
// exceptions (std::__throw_length_error and the like). libstdc++'s versions build
// std::logic_error, std::system_error, ..., whose std::string members pull two whole string
// instantiations and their unwind tables into a static exe (about 90 KB). These throw one light
// type with the same what() text instead; the program only ever catches std::exception or
// `...`, so nothing else tells them apart.
//
// Linked as an object file of each installer exe (never from a library), so the linker takes
// these definitions before it looks in libstdc++.
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LightError final : public std::exception {
 public:
  explicit LightError(const char* text) {
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    const std::size_t kept = length < sizeof text_ ? length : sizeof text_ - 1;
    if (kept > 0) std::memcpy(text_, text, kept);
    text_[kept] = '\0';
  }
  const char* what() const noexcept override { return text_; }

 private:
  // Room for libstdc++'s longest message with its two numbers filled in.
  char text_[256] = {};
};

// Appends at most until the buffer's last byte, which stays for the NUL.
struct Writer {
  char* at;
  char* end;
  void put(char c) {
    if (at < end) *at++ = c;
  }
  void put(const char* text) {
    while (text != nullptr && *text != '\0') put(*text++);
  }
  void put_decimal(std::size_t value) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) put(digits[--count]);
  }
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw std::bad_exception(); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_bad_cast() { throw std::bad_cast(); }
void __throw_bad_typeid() { throw std::bad_typeid(); }
void __throw_logic_error(const char* text) { throw LightError(text); }
void __throw_domain_error(const char* text) { throw LightError(text); }
void __throw_invalid_argument(const char* text) { throw LightError(text); }
void __throw_length_error(const char* text) { throw LightError(text); }
void __throw_out_of_range(const char* text) { throw LightError(text); }
void __throw_runtime_error(const char* text) { throw LightError(text); }
void __throw_range_error(const char* text) { throw LightError(text); }
void __throw_overflow_error(const char* text) { throw LightError(text); }
void __throw_underflow_error(const char* text) { throw LightError(text); }

// The same conversions as libstdc++'s: %s, %zu and %% (its messages use no others), e.g.
// "vector::_M_range_check: __n (which is 7) >= this->size() (which is 3)".
void __throw_out_of_range_fmt(const char* format, ...) {
  char text[256];
  Writer out{text, text + sizeof text - 1};
  va_list args;
  va_start(args, format);
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out.put(va_arg(args, const char*));
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      out.put_decimal(va_arg(args, std::size_t));
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      out.put('%');
      ++p;
    } else {
      out.put(*p);
    }
  }
  va_end(args);
  *out.at = '\0';
  throw LightError(text);
}

// libstdc++ reports an errno value (a thread or a mutex the system refused) as
// std::system_error of the generic category, whose text is strerror's.
void __throw_system_error(int error) { throw LightError(std::strerror(error)); }

}  // namespace std
