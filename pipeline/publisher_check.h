#pragma once
// The check a downloaded installer must pass before it is started: the publisher's Authenticode
// signature, as the build fixes it.
#include <string>

#include "pipeline/pipeline_error.h"
#include "pipeline/run_record.h"
#include "platform/publisher_signature.h"

namespace ombrel {

// The publisher compiled into this build; an empty name means the build checks nothing.
platform::PublisherPolicy built_in_publisher_policy();

// Done when `policy` names no publisher or the file at `path` is signed as it demands;
// kSignature (the system's code, the signer read) otherwise, including where the system cannot
// check. The verdict goes into `record`.
StepResult<Done> check_installer_publisher(const std::string& path, const platform::PublisherPolicy& policy,
                                           RunRecord& record);

}  // namespace ombrel
