#pragma once
// How a pipeline run tells the outside world where it is. The window's view model implements
// it; tests, tools and benchmarks plug in recorders of their own.
#include "pipeline/install_stage.h"

namespace ombrel {

class StageReporter {
 public:
  // Reports the run's current stage; the latest report is the one that counts.
  virtual void send_stage(InstallStage stage) = 0;
  // A download fraction from 0.0 to 1.0.
  void set_progress(double fraction) { send_stage(Downloading{fraction}); }

 protected:
  // Reporters are owned by their concrete type, never deleted through this interface.
  ~StageReporter() = default;
  StageReporter() = default;
  StageReporter(const StageReporter&) = default;
  StageReporter& operator=(const StageReporter&) = default;
};

}  // namespace ombrel
