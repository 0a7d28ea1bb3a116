#pragma once
// The check a downloaded installer must pass before it is started: the publisher's Authenticode
// signature, as the build fixes it.
#include <string>

#include "pipeline/file_faults.h"
#include "pipeline/pipeline_error.h"
#include "pipeline/run_record.h"
#include "platform/held_file.h"
#include "platform/publisher_signature.h"

namespace ombrel {

// The publisher compiled into this build; an empty name means the build checks nothing.
platform::PublisherPolicy built_in_publisher_policy();

// Holds the file at `path` (platform/held_file.h) and checks it through that handle. The held
// file when `policy` names no publisher or the file is signed as it demands; keep it until the
// installer has been started from it. Another program's hold on the file is waited out for
// `wait`'s budget. kInstallerRemoved (the system's code) when the file is gone or refused as
// infected; kInstallerHold (the system's code) when it cannot be held otherwise (someone still
// writes it); kSignature (the system's code, the signer read) otherwise, including where the
// system cannot check. The verdict goes into `record`.
StepResult<platform::HeldFile> check_installer_publisher(const std::string& path,
                                                         const platform::PublisherPolicy& policy, RunRecord& record,
                                                         const HoldWait& wait = {});

}  // namespace ombrel
