#include "pipeline/manifest.h"

#include <array>

namespace ombrel {
namespace {

constexpr std::array<std::string_view, 3> kFieldNames = {"latestInstallFile", "rolloutInstallFile", "baseInstallFile"};

}  // namespace

std::string manifest_url(std::string_view base_url, std::string_view arch_tag) {
  std::string url(base_url);
  url += "prod/win32-";
  url += arch_tag;
  url += "/latest.json";
  return url;
}

json::JsonResult<ManifestSchema> parse_manifest(std::string_view text) {
  auto fields = json::read_optional_string_record(text, "ManifestSchema", kFieldNames);
  if (!fields) return unexpected(std::move(fields).error());
  auto& values = fields.value();
  return ManifestSchema{std::move(values[0]), std::move(values[1]), std::move(values[2])};
}

std::optional<std::string> choose_installer(const ManifestSchema& manifest) {
  const std::optional<std::string>* chosen = manifest.latest_install_file    ? &manifest.latest_install_file
                                             : manifest.rollout_install_file ? &manifest.rollout_install_file
                                                                             : &manifest.base_install_file;
  if (!*chosen || (*chosen)->empty()) return std::nullopt;
  return **chosen;
}

std::string resolve_installer_url(std::string_view manifest_url, std::string_view value) {
  if (value.find("://") != std::string_view::npos) return std::string(value);

  const std::string_view base = manifest_url.substr(0, manifest_url.find_first_of("?#"));
  const std::size_t scheme_end = base.find("://");
  if (scheme_end == std::string_view::npos) return std::string(value);

  const std::size_t path_start = base.find('/', scheme_end + 3);
  const std::string_view origin = path_start == std::string_view::npos ? base : base.substr(0, path_start);
  const std::string_view path = path_start == std::string_view::npos ? std::string_view("/") : base.substr(path_start);

  std::string url(origin);
  if (!value.starts_with('/')) url += path.substr(0, path.rfind('/') + 1);
  url += value;
  return url;
}

}  // namespace ombrel
