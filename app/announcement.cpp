#include "app/announcement.h"

#include "app/view.h"

namespace ombrel {

bool StatusAnnouncer::should_announce(const InstallStage& stage) {
  const bool new_stage = stage.index() != last_stage_;
  last_stage_ = stage.index();
  if (const auto* downloading = std::get_if<Downloading>(&stage)) {
    // The tenth of the percent the line shows; a percent that falls back (an attempt that
    // starts over) is not announced again until it passes the last one announced.
    const std::int32_t tenth = progress_percent(downloading->fraction) / 10;
    if (!new_stage && tenth <= last_tenth_) return false;
    last_tenth_ = tenth;
    return true;
  }
  // A failure's text is news even after another failure.
  return new_stage || std::holds_alternative<Failed>(stage);
}

}  // namespace ombrel
