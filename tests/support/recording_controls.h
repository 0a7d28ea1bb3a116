#pragma once
// The window's controls as plain state plus a log of every call, to check what apply_stage
// did and in which order.
#include <string>
#include <string_view>
#include <vector>

#include "app/view.h"

namespace ombrel::test {

class RecordingControls : public StatusControls {
 public:
  void set_status_text(std::string_view text) override {
    label = text;
    calls.push_back("label " + label);
  }
  void set_marquee(bool on, unsigned interval_ms) override {
    marquee = on;
    calls.push_back(on ? "marquee on " + std::to_string(interval_ms) : "marquee off");
  }
  void set_bar_position(unsigned value) override {
    position = value;
    calls.push_back("position " + std::to_string(value));
  }
  void show_retry(bool visible) override {
    retry_visible = visible;
    if (!visible) retry_focused = false;
    calls.push_back(visible ? "retry shown" : "retry hidden");
  }
  void focus_retry() override {
    retry_focused = true;
    calls.push_back("retry focused");
  }
  void start_close_timer() override {
    ++close_timer_starts;
    calls.push_back("close timer");
  }

  std::string label;
  bool marquee = false;
  unsigned position = 0;
  bool retry_visible = false;
  bool retry_focused = false;
  int close_timer_starts = 0;
  std::vector<std::string> calls;
};

}  // namespace ombrel::test
