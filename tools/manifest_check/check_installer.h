#pragma once
// `manifest-check --check-installer FILE`: the publisher check the installer makes before it
// starts a downloaded file, with the reason when the file would be refused.
#include <iosfwd>
#include <string>

#include "platform/publisher_signature.h"

namespace ombrel::tools {

// Two lines for a person: "signer: <common name>|none|unknown (...)", then "check: passes",
// "check: fails: <why>" or "check: off (...)".
std::string describe(const platform::SignatureVerdict& verdict, const platform::PublisherPolicy& policy);

// Prints the lines for the file at `path` under this build's policy; the exit status is 0 when
// the installer would start the file, 1 when it would refuse it, 2 when the file is missing.
int run_check_installer(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace ombrel::tools
