#include "app/layout.h"

#include <cmath>
#include <limits>

namespace ombrel {
namespace {

using Int32Limits = std::numeric_limits<std::int32_t>;

// Saturates a 64-bit intermediate so sums of saturated values cannot wrap around.
std::int32_t saturate(std::int64_t value) {
  if (value > Int32Limits::max()) return Int32Limits::max();
  if (value < Int32Limits::min()) return Int32Limits::min();
  return static_cast<std::int32_t>(value);
}

// (outer − inner) / 2 with division truncating toward zero: 62.5 becomes 62.
std::int32_t centred(std::int32_t outer, std::int32_t inner) {
  return saturate((static_cast<std::int64_t>(outer) - inner) / 2);
}

std::int32_t minus(std::int32_t a, std::int32_t b) { return saturate(static_cast<std::int64_t>(a) - b); }

}  // namespace

double ui_scale(std::uint32_t dpi) { return dpi == 0 ? 1.0 : static_cast<double>(dpi) / 96.0; }

std::int32_t scaled(double n, double scale) {
  const double value = std::round(n * scale);  // std::round rounds halves away from zero
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(Int32Limits::max())) return Int32Limits::max();
  if (value <= static_cast<double>(Int32Limits::min())) return Int32Limits::min();
  return static_cast<std::int32_t>(value);
}

std::uint32_t font_height(double scale) {
  const double value = std::round(16.0 * scale);
  if (std::isnan(value) || value <= 0.0) return 0;
  if (value >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return static_cast<std::uint32_t>(value);
}

WindowLayout window_layout(double scale) {
  auto s = [scale](double n) { return scaled(n, scale); };
  WindowLayout layout;
  const std::int32_t w = s(360);
  const std::int32_t h = s(340);
  const std::int32_t icon = s(64);
  const std::int32_t label_width = minus(w, s(20));
  layout.client_width = w;
  layout.client_height = h;
  layout.icon_size = icon;
  layout.font_height = font_height(scale);
  layout.icon_frame = {centred(w, icon), s(24), icon, icon};
  layout.title_label = {s(10), s(104), label_width, s(22)};
  layout.progress_bar = {centred(w, s(260)), s(144), s(260), s(14)};
  layout.status_label = {s(10), s(170), label_width, icon};
  layout.retry_button = {centred(w, s(100)), s(246), s(100), s(28)};
  layout.version_label = {s(10), minus(h, s(36)), label_width, s(18)};
  return layout;
}

Point centre_on_monitor(const MonitorRect& monitor, std::int32_t client_width, std::int32_t client_height) {
  const std::int64_t x = monitor.left + (static_cast<std::int64_t>(monitor.right) - monitor.left - client_width) / 2;
  const std::int64_t y = monitor.top + (static_cast<std::int64_t>(monitor.bottom) - monitor.top - client_height) / 2;
  return {saturate(x), saturate(y)};
}

}  // namespace ombrel
