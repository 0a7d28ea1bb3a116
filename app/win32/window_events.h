#pragma once
// The window event handler: the application's only reactions to the outside world. A worker
// notice renders the pending stage, the retry button starts a new run, the close timer's tick
// and closing the window end the message loop, Ctrl+C copies the support summary. Everything
// else is ignored.
#include <memory>

#include "app/pipeline_runner.h"
#include "app/view_model.h"
#include "app/win32/installer_window.h"

namespace ombrel::win32 {

// Acts on one event if its kind and its source match one of the five reactions.
void handle_window_event(const WindowEvent& event, InstallerWindow& window, PipelineRunner& runner, StageSlot& slot);

// Binds the handler to `window`; it keeps the three references until the window is unbound.
void bind_window_events(const std::shared_ptr<InstallerWindow>& window, std::shared_ptr<PipelineRunner> runner,
                        std::shared_ptr<StageSlot> slot);

// Ends the message loop: WM_QUIT posted to this thread's queue.
void post_quit();

// Runs the thread's message loop until WM_QUIT, giving each message to IsDialogMessageW of its
// top-level window first so Tab, Space and Enter work as in a dialog.
void run_message_loop();

}  // namespace ombrel::win32
