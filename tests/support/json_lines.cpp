#include "tests/support/json_lines.h"

#include <fstream>
#include <stdexcept>

#include "common/utf8.h"

namespace ombrel::test {
namespace {

class CaseJsonParser {
 public:
  explicit CaseJsonParser(std::string_view text) : text_(text) {}

  CaseValue document() {
    CaseValue value = parse_value();
    skip_space();
    if (at_ != text_.size()) fail("trailing text");
    return value;
  }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw std::runtime_error(std::string("test data JSON: ") + what + " at byte " + std::to_string(at_));
  }
  void skip_space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  char take() {
    if (at_ >= text_.size()) fail("unexpected end");
    return text_[at_++];
  }
  void expect(char c) {
    if (take() != c) fail("unexpected character");
  }

  CaseValue parse_value() {
    skip_space();
    if (at_ >= text_.size()) fail("unexpected end");
    CaseValue value;
    const char c = text_[at_];
    if (c == '{') {
      value.kind = CaseValue::Kind::kObject;
      ++at_;
      skip_space();
      if (text_[at_] == '}') {
        ++at_;
        return value;
      }
      for (;;) {
        skip_space();
        expect('"');
        std::string key = parse_string_body();
        skip_space();
        expect(':');
        value.members.push_back({std::move(key), parse_value()});
        skip_space();
        if (take() == '}') return value;
      }
    }
    if (c == '[') {
      value.kind = CaseValue::Kind::kArray;
      ++at_;
      skip_space();
      if (text_[at_] == ']') {
        ++at_;
        return value;
      }
      for (;;) {
        value.items.push_back(parse_value());
        skip_space();
        if (take() == ']') return value;
      }
    }
    if (c == '"') {
      ++at_;
      value.kind = CaseValue::Kind::kString;
      value.text = parse_string_body();
      return value;
    }
    if (text_.substr(at_, 4) == "null") {
      at_ += 4;
      return value;
    }
    if (text_.substr(at_, 4) == "true" || text_.substr(at_, 5) == "false") {
      value.kind = CaseValue::Kind::kBool;
      value.boolean = c == 't';
      at_ += value.boolean ? 4 : 5;
      return value;
    }
    value.kind = CaseValue::Kind::kNumber;
    const std::size_t start = at_;
    while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
    if (start == at_) fail("unexpected character");
    value.text = std::string(text_.substr(start, at_ - start));
    return value;
  }

  unsigned hex4() {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = take();
      v = v * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
    }
    return v;
  }

  std::string parse_string_body() {
    std::string out;
    for (;;) {
      const char c = take();
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      const char e = take();
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'u': {
          char32_t cp = hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default:
          out.push_back(e);
          break;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const CaseValue* CaseValue::find(std::string_view name) const {
  for (const auto& [key, value] : members) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::string CaseValue::string_at(std::string_view name) const {
  const CaseValue* value = find(name);
  return value != nullptr && value->kind == Kind::kString ? value->text : std::string();
}

CaseValue parse_case_json(std::string_view text) { return CaseJsonParser(text).document(); }

std::vector<CaseValue> read_case_lines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<CaseValue> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(parse_case_json(line));
  }
  return lines;
}

std::string base64_decode(std::string_view text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    int v = -1;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+' || c == '-')
      v = 62;
    else if (c == '/' || c == '_')
      v = 63;
    if (v < 0) continue;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace ombrel::test
