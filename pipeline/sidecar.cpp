#include "pipeline/sidecar.h"

#include "common/utf8.h"
#include "pipeline/http_headers.h"

namespace ombrel {
namespace {

constexpr std::string_view kInstallerExtension = ".exe";
constexpr std::string_view kSidecarExtension = ".meta";

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

bool has_strong_etag(const Validators& validators) {
  return !validators.etag.empty() && !validators.etag.starts_with("W/");
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

std::string format_sidecar(const Validators& validators) { return validators.etag + '\n' + validators.last_modified; }

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

Validators next_validators(const Validators& stored, bool partial, std::optional<std::string_view> etag,
                           std::optional<std::string_view> last_modified) {
  const auto next = [partial](const std::string& kept, std::optional<std::string_view> header) {
    if (header && !header->empty() && is_header_safe(*header)) return std::string(*header);
    return partial ? kept : std::string();
  };
  return Validators{next(stored.etag, etag), next(stored.last_modified, last_modified)};
}

std::optional<std::string> if_range_value(const Validators& validators) {
  if (has_strong_etag(validators)) return validators.etag;
  if (!validators.last_modified.empty()) return validators.last_modified;
  return std::nullopt;
}

bool contradicts_if_range(const Validators& stored, std::optional<std::string_view> etag,
                          std::optional<std::string_view> last_modified) {
  const auto differs = [](std::optional<std::string_view> header, const std::string& sent) {
    return header && !header->empty() && *header != sent;
  };
  if (has_strong_etag(stored)) return differs(etag, stored.etag);
  if (!stored.last_modified.empty()) return differs(last_modified, stored.last_modified);
  return false;
}

}  // namespace ombrel
