#pragma once
// The steps the shipped program runs: the real manifest fetcher, downloader, installer run and
// application lookup, wired to the Windows back ends.
#include <memory>

#include "pipeline/pipeline.h"

namespace ombrel {

// A fresh set of steps for one run.
std::unique_ptr<PipelineSteps> make_real_steps();

}  // namespace ombrel
