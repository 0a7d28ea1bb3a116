#pragma once
// The stages a pipeline run reports to the window, declared in the order they occur
// (tests/pipeline/pipeline_test.cpp holds run_pipeline to it, and the end-to-end tests read the
// order from here). A stage's status text is the message key STATUS_ and its name in capitals.
#include <string>
#include <variant>

namespace ombrel {

struct FetchingManifest {};
struct Downloading {
  double fraction = 0.0;  // bytes received / expected total, capped at 1.0 by the sender
};
struct Installing {};
struct Launching {};
struct Complete {};
struct Failed {
  std::string message;  // already translated
};

using InstallStage = std::variant<FetchingManifest, Downloading, Installing, Launching, Complete, Failed>;

}  // namespace ombrel
