#pragma once
// The main window's geometry as a pure function of one scale factor (system DPI / 96), so the
// same numbers drive the Win32 window, the unit tests and the end-to-end checks.
#include <cstdint>

namespace ombrel {

// A control's place in the window's client area, in pixels.
struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;

  friend bool operator==(const Rect&, const Rect&) = default;
};

// The scale factor for a system DPI reading; a reading of 0 (no answer) means 96 DPI.
double ui_scale(std::uint32_t dpi);

// n × scale rounded to the nearest pixel, halves away from zero, saturated to the int32
// range; a result that is not a number is 0.
std::int32_t scaled(double n, double scale);

// Cell height of the default font: 16 × scale rounded half away from zero, clamped to
// 0..UINT32_MAX (not a number gives 0).
std::uint32_t font_height(double scale);

struct WindowLayout {
  std::int32_t client_width = 0;   // W
  std::int32_t client_height = 0;  // H
  std::int32_t icon_size = 0;      // I
  std::uint32_t font_height = 0;
  Rect icon_frame;
  Rect title_label;
  Rect progress_bar;
  Rect status_label;
  Rect retry_button;
  Rect version_label;

  friend bool operator==(const WindowLayout&, const WindowLayout&) = default;
};

// Every position and size of the window at `scale`, computed once at start-up.
WindowLayout window_layout(double scale);

// A monitor's full rectangle (not its work area), in virtual-screen pixels.
struct MonitorRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;

  friend bool operator==(const Point&, const Point&) = default;
};

// Top-left corner that centres a window on `monitor`. The client size goes into the formula
// (not the outer frame), so the frame sits slightly right of and below the exact centre.
Point centre_on_monitor(const MonitorRect& monitor, std::int32_t client_width, std::int32_t client_height);

}  // namespace ombrel
