#include "app/view.h"

#include <cmath>
#include <string>

#include "translations/translations.h"

namespace ombrel {
namespace {

// Rounds fraction × scale half away from zero (std::round) into 0..limit; NaN gives 0.
double scaled_clamped(double fraction, double scale, double limit) {
  double value = std::round(fraction * scale);
  if (std::isnan(value)) return 0.0;
  if (value < 0.0) return 0.0;
  if (value > limit) return limit;
  return value;
}

void render_busy(StatusControls& controls, MessageKey key) {
  controls.set_status_text(tr(key));
  controls.set_marquee(true, kMarqueeIntervalMs);
  controls.show_retry(false);
}

}  // namespace

std::int32_t progress_percent(double fraction) {
  return static_cast<std::int32_t>(scaled_clamped(fraction, 100.0, 100.0));
}

std::uint32_t progress_position(double fraction) {
  return static_cast<std::uint32_t>(scaled_clamped(fraction, 1000.0, kBarRange));
}

void apply_stage(const InstallStage& stage, StatusControls& controls) {
  struct Renderer {
    StatusControls& controls;

    void operator()(const FetchingManifest&) const { render_busy(controls, keys::kStatusFetchingManifest); }
    void operator()(const Downloading& stage) const {
      controls.set_status_text(tr_fmt(keys::kStatusDownloadingFmt, std::to_string(progress_percent(stage.fraction))));
      controls.set_marquee(false, 0);
      controls.set_bar_position(progress_position(stage.fraction));
      controls.show_retry(false);
    }
    void operator()(const Installing&) const { render_busy(controls, keys::kStatusInstalling); }
    void operator()(const Launching&) const { render_busy(controls, keys::kStatusLaunching); }
    void operator()(const Complete&) const {
      controls.set_status_text(tr(keys::kStatusComplete));
      controls.set_marquee(false, 0);
      controls.set_bar_position(kBarRange);
      controls.show_retry(false);
      controls.start_close_timer();
    }
    void operator()(const Failed& stage) const {
      controls.set_status_text(stage.message);
      controls.set_marquee(false, 0);
      controls.set_bar_position(0);
      controls.show_retry(true);
      controls.focus_retry();
    }
  };
  std::visit(Renderer{controls}, stage);
}

}  // namespace ombrel
