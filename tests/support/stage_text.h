#pragma once
// Stages as short readable texts, so tests compare whole sequences and failures print well.
#include <string>
#include <vector>

#include "pipeline/install_stage.h"

namespace ombrel::test {

// "FetchingManifest", "Downloading 0.25", "Installing", "Launching", "Complete", "Failed: <text>".
std::string stage_text(const InstallStage& stage);

}  // namespace ombrel::test
