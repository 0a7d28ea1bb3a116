#pragma once
// The manifest document and the choice of installer it names: the pure half of the manifest
// step (no network), shared by the installer and the manifest-check tool.
#include <optional>
#include <string>
#include <string_view>

#include "common/json_reader.h"

namespace ombrel {

// The manifest as served: each member missing, null (both read as absent) or a string.
struct ManifestSchema {
  std::optional<std::string> latest_install_file;   // "latestInstallFile", first choice
  std::optional<std::string> rollout_install_file;  // "rolloutInstallFile", second
  std::optional<std::string> base_install_file;     // "baseInstallFile", third
};

// The manifest's address: base URL (ends in "/"), "prod", "/win32-", tag, "/latest.json".
std::string manifest_url(std::string_view base_url, std::string_view arch_tag);

// Reads manifest text (already valid UTF-8): an object with the three members in any order
// (others skipped), or an array of exactly three string-or-null elements in rank order.
json::JsonResult<ManifestSchema> parse_manifest(std::string_view text);

// The first present member by rank. Nothing when none is present or when the chosen string
// is empty; an empty first choice does not fall through to the next.
std::optional<std::string> choose_installer(const ManifestSchema& manifest);

// The installer URL for a chosen value: unchanged when it contains "://", else joined to the
// manifest URL's origin (value starting with "/") or to its folder. No normalisation at all.
std::string resolve_installer_url(std::string_view manifest_url, std::string_view value);

}  // namespace ombrel
