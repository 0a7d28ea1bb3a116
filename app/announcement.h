#pragma once
// Which status lines a screen reader hears. The status label is a polite live region: each new
// stage is announced, but while downloading only the first line of each further tenth, so a
// fast stream of progress lines cannot flood the reader (at most 11 per download).
#include <cstddef>
#include <cstdint>
#include <variant>

#include "pipeline/install_stage.h"

namespace ombrel {

class StatusAnnouncer {
 public:
  // Called with every stage the window renders, in order: true when the status line it just
  // showed should be announced.
  bool should_announce(const InstallStage& stage);

 private:
  std::size_t last_stage_ = std::variant_npos;
  std::int32_t last_tenth_ = -1;  // of the percent announced last while downloading
};

}  // namespace ombrel
