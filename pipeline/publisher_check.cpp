#include "pipeline/publisher_check.h"

#include <utility>

#include "common/build_config.h"
#include "pipeline/file_faults.h"

namespace ombrel {

platform::PublisherPolicy built_in_publisher_policy() { return {built_in_publisher_name(), built_in_publisher_pins()}; }

StepResult<platform::HeldFile> check_installer_publisher(const std::string& path,
                                                         const platform::PublisherPolicy& policy, RunRecord& record,
                                                         const HoldWait& wait) {
  platform::FileResult<platform::HeldFile> held = retry_while_held<platform::HeldFile>(
      path, FileRole::kInstaller, wait, [&] { return platform::HeldFile::open(path); });
  if (!held) {
    const std::uint32_t code = held.error();
    return step_failure(is_removed_or_blocked(code) ? FailureReason::kInstallerRemoved : FailureReason::kInstallerHold,
                        code);
  }
  if (policy.name.empty()) return std::move(held).value();
  const platform::SignatureVerdict& verdict =
      record.signature.emplace(platform::check_publisher_signature(*held, policy));
  if (verdict.outcome != platform::SignatureVerdict::Outcome::kTrusted) {
    return step_failure(FailureReason::kSignature, verdict.system_code, verdict.signer);
  }
  return std::move(held).value();
}

}  // namespace ombrel
