#include "pipeline/publisher_check.h"

#include <utility>

#include "common/build_config.h"

namespace ombrel {

platform::PublisherPolicy built_in_publisher_policy() { return {built_in_publisher_name(), built_in_publisher_pins()}; }

StepResult<platform::LockedFile> check_installer_publisher(const std::string& path,
                                                           const platform::PublisherPolicy& policy, RunRecord& record) {
  Expected<platform::LockedFile, std::uint32_t> held = platform::LockedFile::open(path);
  if (!held) return step_failure(FailureReason::kInstallerHold, held.error());
  if (policy.name.empty()) return std::move(held).value();
  const platform::SignatureVerdict& verdict =
      record.signature.emplace(platform::check_publisher_signature(*held, policy));
  if (verdict.outcome != platform::SignatureVerdict::Outcome::kTrusted) {
    return step_failure(FailureReason::kSignature, verdict.system_code, verdict.signer);
  }
  return std::move(held).value();
}

}  // namespace ombrel
