#include "tools/manifest_check/manifest_verdict.h"

#include <vector>

#include "common/build_config.h"
#include "pipeline/manifest.h"
#include "pipeline/manifest_fetcher.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel::tools {

std::string default_check_manifest_url() { return manifest_url(built_in_base_url(), "x64"); }

std::string manifest_verdict(std::string_view body, std::string_view manifest_url) {
  // The messages a person reads from this tool are always the English ones.
  const std::vector<std::string> english = {"en-US"};
  translation_store().initialize([&] { return build_translations(english); });

  const auto installer_url = installer_url_from_body(body, manifest_url);
  if (!installer_url) return "error: " + describe_failure(installer_url.error());
  return "installer: " + *installer_url;
}

}  // namespace ombrel::tools
