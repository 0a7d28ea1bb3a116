// Strings: validated content with escapes decoded, or skipped with escapes checked for shape.
#include "common/json_deserializer.h"
#include "common/utf8.h"

namespace ombrel::json::detail {

namespace {

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void Deserializer::skip_to_escape() {
  while (index_ < text_.size()) {
    const auto c = static_cast<unsigned char>(text_[index_]);
    if (c == '"' || c == '\\' || c < 0x20) return;
    ++index_;
  }
}

bool Deserializer::parse_str(std::string& out) {
  out.clear();
  std::size_t start = index_;
  for (;;) {
    skip_to_escape();
    if (index_ == text_.size()) return error(Code::kEofWhileParsingString);
    const char c = text_[index_];
    if (c == '"') {
      out.append(text_.substr(start, index_ - start));
      ++index_;
      return true;
    }
    if (c == '\\') {
      out.append(text_.substr(start, index_ - start));
      ++index_;
      if (!parse_escape(out)) return false;
      start = index_;
    } else {
      ++index_;
      return error(Code::kControlCharacterWhileParsingString);
    }
  }
}

bool Deserializer::ignore_str() {
  for (;;) {
    skip_to_escape();
    if (index_ == text_.size()) return error(Code::kEofWhileParsingString);
    const char c = text_[index_];
    if (c == '"') {
      ++index_;
      return true;
    }
    if (c == '\\') {
      ++index_;
      if (!ignore_escape()) return false;
    } else {
      return error(Code::kControlCharacterWhileParsingString);
    }
  }
}

bool Deserializer::next_or_eof(int& c) {
  c = next_char();
  return c != kEof || error(Code::kEofWhileParsingString);
}

bool Deserializer::peek_or_eof(int& c) {
  c = peek();
  return c != kEof || error(Code::kEofWhileParsingString);
}

bool Deserializer::decode_hex_escape(std::uint16_t& out) {
  if (text_.size() - index_ < 4) {
    index_ = text_.size();
    return error(Code::kEofWhileParsingString);
  }
  int value = 0;
  bool valid = true;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(static_cast<unsigned char>(text_[index_ + static_cast<std::size_t>(i)]));
    valid = valid && digit >= 0;
    value = value * 16 + std::max(digit, 0);
  }
  index_ += 4;
  if (!valid) return error(Code::kInvalidEscape);
  out = static_cast<std::uint16_t>(value);
  return true;
}

bool Deserializer::parse_escape(std::string& out) {
  int c = 0;
  if (!next_or_eof(c)) return false;
  switch (c) {
    case '"':
      out.push_back('"');
      return true;
    case '\\':
      out.push_back('\\');
      return true;
    case '/':
      out.push_back('/');
      return true;
    case 'b':
      out.push_back('\b');
      return true;
    case 'f':
      out.push_back('\f');
      return true;
    case 'n':
      out.push_back('\n');
      return true;
    case 'r':
      out.push_back('\r');
      return true;
    case 't':
      out.push_back('\t');
      return true;
    case 'u':
      return parse_unicode_escape(out);
    default:
      return error(Code::kInvalidEscape);
  }
}

bool Deserializer::parse_unicode_escape(std::string& out) {
  std::uint16_t n = 0;
  if (!decode_hex_escape(n)) return false;
  if (n >= 0xDC00 && n <= 0xDFFF) return error(Code::kLoneLeadingSurrogateInHexEscape);
  if (n < 0xD800 || n > 0xDBFF) {
    append_utf8(out, n);
    return true;
  }
  // A leading surrogate must be followed by \u and a trailing one.
  int c = 0;
  if (!peek_or_eof(c)) return false;
  eat_char();
  if (c != '\\') return error(Code::kUnexpectedEndOfHexEscape);
  if (!peek_or_eof(c)) return false;
  eat_char();
  if (c != 'u') return error(Code::kUnexpectedEndOfHexEscape);
  std::uint16_t n2 = 0;
  if (!decode_hex_escape(n2)) return false;
  if (n2 < 0xDC00 || n2 > 0xDFFF) return error(Code::kLoneLeadingSurrogateInHexEscape);
  append_utf8(out, 0x10000 + ((static_cast<char32_t>(n - 0xD800) << 10) | static_cast<char32_t>(n2 - 0xDC00)));
  return true;
}

bool Deserializer::ignore_escape() {
  int c = 0;
  if (!next_or_eof(c)) return false;
  switch (c) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
      return true;
    case 'u': {
      std::uint16_t unused = 0;
      return decode_hex_escape(unused);
    }
    default:
      return error(Code::kInvalidEscape);
  }
}

}  // namespace ombrel::json::detail
