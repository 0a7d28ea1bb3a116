#include "pipeline/publisher_check.h"

#include <utility>

#include "common/build_config.h"
#include "translations/translations.h"

namespace ombrel {

platform::PublisherPolicy built_in_publisher_policy() { return {built_in_publisher_name(), built_in_publisher_pins()}; }

StepResult<platform::LockedFile> check_installer_publisher(const std::string& path,
                                                           const platform::PublisherPolicy& policy) {
  Expected<platform::LockedFile, std::uint32_t> held = platform::LockedFile::open(path);
  if (!held) return step_failure(tr(keys::kErrorInstallerUntrusted));
  if (policy.name.empty()) return std::move(held).value();
  const platform::SignatureVerdict verdict = platform::check_publisher_signature(*held, policy);
  if (verdict.outcome != platform::SignatureVerdict::Outcome::trusted) {
    return step_failure(tr(keys::kErrorInstallerUntrusted));
  }
  return std::move(held).value();
}

}  // namespace ombrel
