#include "app/win32/window_events.h"

#include "app/support_summary.h"
#include "app/win32/clipboard.h"
#include "resources/resource_ids.h"

namespace ombrel::win32 {

void post_quit() { PostMessageW(nullptr, WM_QUIT, 0, 0); }

void handle_window_event(const WindowEvent& event, InstallerWindow& window, PipelineRunner& runner, StageSlot& slot) {
  switch (event.kind) {
    case WindowEventKind::kNotice:
      if (event.source == window.window() && event.id == window.notice_target().id) {
        // Several notices may come for one stage; the later ones find the slot empty.
        if (std::optional<InstallStage> stage = slot.take()) {
          apply_stage(*stage, window);
          window.announce_status(*stage);
        }
      }
      break;
    case WindowEventKind::kButtonClick:
      if (event.source == window.retry_button()) runner.start_worker();
      break;
    case WindowEventKind::kTimerTick:
      if (event.source == window.window() && event.id == window.close_timer().id()) post_quit();
      break;
    case WindowEventKind::kClose:
      if (event.source == window.window()) post_quit();
      break;
    case WindowEventKind::kCopySummary:
      // As a message box does: a clipboard held by another program just means no copy.
      if (event.source == window.window()) {
        // A copy taken under the runner's lock: the worker may be writing the next record.
        const RunRecordView runs = runner.last_run();
        put_on_clipboard(
            window.window(),
            format_support_summary(current_system_facts(), runs.last ? &*runs.last : nullptr, runs.run_in_progress));
      }
      break;
  }
}

void bind_window_events(const std::shared_ptr<InstallerWindow>& window, std::shared_ptr<PipelineRunner> runner,
                        std::shared_ptr<StageSlot> slot) {
  // The handler lives inside the window and holds it, so the window is held weakly here; the
  // start-up keeps its own reference until after the loop.
  std::weak_ptr<InstallerWindow> weak_window = window;
  window->bind([weak_window, runner = std::move(runner), slot = std::move(slot)](const WindowEvent& event) {
    if (std::shared_ptr<InstallerWindow> target = weak_window.lock()) {
      handle_window_event(event, *target, *runner, *slot);
    }
  });
}

void run_message_loop() {
  // A resource's accelerator table is freed with the module.
  HACCEL shortcuts = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(OMBREL_IDR_ACCELERATORS));
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && shortcuts != nullptr && TranslateAcceleratorW(root, shortcuts, &message)) continue;
    if (root != nullptr && IsDialogMessageW(root, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace ombrel::win32
