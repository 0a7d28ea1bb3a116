#include "pipeline/sidecar.h"

#include <cstdint>

namespace ombrel {
namespace {

constexpr std::string_view kInstallerExtension = ".exe";
constexpr std::string_view kSidecarExtension = ".meta";

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t cp = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, min = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, min = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// Line `index` (from 0) of `text`, without its line feed and a carriage return before it.
std::string_view line_at(std::string_view text, int index) {
  for (int skipped = 0; skipped < index; ++skipped) {
    const std::size_t feed = text.find('\n');
    if (feed == std::string_view::npos) {
      return {};
    }
    text.remove_prefix(feed + 1);
  }
  const std::size_t feed = text.find('\n');
  if (feed == std::string_view::npos) {
    return text;
  }
  std::string_view line = text.substr(0, feed);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

}  // namespace

std::string sidecar_path(std::string_view installer_path) {
  std::string path(installer_path);
  if (path.ends_with(kInstallerExtension)) {
    path.resize(path.size() - kInstallerExtension.size());
  }
  path += kSidecarExtension;
  return path;
}

std::string format_sidecar(const Validators& validators) {
  return validators.etag + '\n' + validators.last_modified;
}

std::optional<Validators> parse_sidecar(std::string_view text) {
  if (!is_valid_utf8(text)) {
    return std::nullopt;
  }
  Validators validators{std::string(line_at(text, 0)), std::string(line_at(text, 1))};
  if (!is_header_safe(validators.etag) || !is_header_safe(validators.last_modified)) {
    return std::nullopt;
  }
  return validators;
}

bool is_header_safe(std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      return false;
    }
  }
  return true;
}

}  // namespace ombrel
