#include "pipeline/publisher_check.h"

#include "common/build_config.h"

namespace ombrel {

platform::PublisherPolicy built_in_publisher_policy() { return {built_in_publisher_name(), built_in_publisher_pins()}; }

StepResult<Done> check_installer_publisher(const std::string& path, const platform::PublisherPolicy& policy,
                                           RunRecord& record) {
  if (policy.name.empty()) return Done{};
  const platform::SignatureVerdict& verdict =
      record.signature.emplace(platform::check_publisher_signature(path, policy));
  if (verdict.outcome != platform::SignatureVerdict::Outcome::trusted) {
    return step_failure(FailureReason::kSignature, verdict.system_code, verdict.signer);
  }
  return Done{};
}

}  // namespace ombrel
