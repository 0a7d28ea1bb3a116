#pragma once
// The rendering rule of the window: how one stage of a run appears on the status label, the
// progress bar, the retry button and the close timer.
#include <cstdint>
#include <string_view>

#include "pipeline/install_stage.h"

namespace ombrel {

// The window's controls as apply_stage drives them; the window implements it, tests record it.
class StatusControls {
 public:
  virtual ~StatusControls() = default;

  virtual void set_status_text(std::string_view text) = 0;
  // Moving animation on (updated every `interval_ms`) or off; off leaves the bar static at
  // its position. The interval is 0 when switching off.
  virtual void set_marquee(bool on, unsigned interval_ms) = 0;
  // Position within 0..kBarRange.
  virtual void set_bar_position(unsigned position) = 0;
  virtual void show_retry(bool visible) = 0;
  virtual void focus_retry() = 0;
  virtual void start_close_timer() = 0;
};

inline constexpr unsigned kBarRange = 1000;
inline constexpr unsigned kMarqueeIntervalMs = 30;

// Whole percent shown in the status line: fraction × 100 rounded half away from zero,
// clamped to 0..100; not-a-number gives 0.
std::int32_t progress_percent(double fraction);

// Bar position: fraction × 1000 rounded half away from zero, clamped to 0..1000;
// not-a-number gives 0.
std::uint32_t progress_position(double fraction);

// Renders one stage, always in the order label, marquee, position, button, timer. Stages
// with a moving bar leave its position where it was, behind the animation.
void apply_stage(const InstallStage& stage, StatusControls& controls);

}  // namespace ombrel
