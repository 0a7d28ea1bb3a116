#pragma once
// The installer's one window and its six controls, built once at start-up and released after
// the message loop. It renders the view model's stages (StatusControls) and turns the Win32
// messages it receives into the five events the application reacts to.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/announcement.h"
#include "app/layout.h"
#include "app/view.h"
#include "app/win32/handles.h"
#include "platform/notice.h"

namespace ombrel::win32 {

// What the window reports to its bound event handler.
enum class WindowEventKind {
  kNotice,       // the worker's wake-up message arrived
  kButtonClick,  // BN_CLICKED from a child button
  kTimerTick,    // a timer of the window ticked
  kClose,        // the user asked to close the window (it closes after the handler)
  kCopySummary,  // Ctrl+C: the support summary onto the clipboard
};

struct WindowEvent {
  WindowEventKind kind = WindowEventKind::kNotice;
  HWND source = nullptr;  // the window, or the child control that sent the click
  std::uintptr_t id = 0;  // notice or timer identifier
};

using WindowEventHandler = std::function<void(const WindowEvent&)>;

// One-shot timer bound to the window: at most one tick per start, counted from the start.
class CloseTimer {
 public:
  static constexpr UINT kIntervalMs = 2000;

  CloseTimer() = default;
  CloseTimer(HWND window, std::uintptr_t id) : timer_{window, id} {}

  // (Re)starts the interval from now; a running timer starts over.
  void start();
  void stop() { running_.reset(); }
  bool running() const { return static_cast<bool>(running_); }
  std::uintptr_t id() const { return timer_.id; }
  // Called for each WM_TIMER with this id: stops the timer, so a tick happens at most once.
  void ticked() { stop(); }

 private:
  TimerTraits::Handle timer_;
  UniqueHandle<TimerTraits> running_;  // holds timer_ while it runs
};

class InstallerWindow final : public StatusControls {
 public:
  // Common controls and the window class; a class that cannot be registered is a fatal stop.
  static void initialize_toolkit();
  // Everything of the window at a given scale; the real one comes from build_main_window.
  static std::unique_ptr<InstallerWindow> build(double scale);

  ~InstallerWindow() override;
  InstallerWindow(const InstallerWindow&) = delete;
  InstallerWindow& operator=(const InstallerWindow&) = delete;

  HWND window() const { return window_.get(); }
  HWND icon_frame() const { return icon_frame_.get(); }
  HWND title_label() const { return title_label_.get(); }
  HWND progress_bar() const { return progress_bar_.get(); }
  HWND status_label() const { return status_label_.get(); }
  HWND retry_button() const { return retry_button_.get(); }
  HWND version_label() const { return version_label_.get(); }
  HICON icon() const { return icon_.get(); }
  HFONT font() const { return font_.get(); }
  const WindowLayout& layout() const { return layout_; }
  // Where the worker's notices go: this window and its notice identifier.
  platform::NoticeTarget notice_target() const { return {window_.get(), notice_id_}; }
  const CloseTimer& close_timer() const { return close_timer_; }

  // Events go to `handler` from now on, on the window's thread; unbind stops them.
  void bind(WindowEventHandler handler) { handler_ = std::move(handler); }
  void unbind() { handler_ = nullptr; }

  // StatusControls
  void set_status_text(std::string_view text) override;
  void set_marquee(bool on, unsigned interval_ms) override;
  void set_bar_position(unsigned position) override;
  void show_retry(bool visible) override;
  void focus_retry() override;
  void start_close_timer() override;

  // After `stage` was rendered: has screen readers read the status line if the stage is news
  // to them (StatusAnnouncer).
  void announce_status(const InstallStage& stage);

 private:
  InstallerWindow() = default;
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void raise(const WindowEvent& event);

  // Released in this order (see the destructor); the font outlives the controls using it.
  UniqueWindow window_;
  UniqueIcon icon_;
  UniqueWindow icon_frame_;
  UniqueWindow title_label_;
  UniqueWindow progress_bar_;
  UniqueWindow status_label_;
  UniqueWindow retry_button_;
  UniqueWindow version_label_;
  std::uintptr_t notice_id_ = 0;
  CloseTimer close_timer_;
  UniqueFont font_;

  WindowLayout layout_;
  WindowEventHandler handler_;
  StatusAnnouncer announcer_;
  HWND focus_child_ = nullptr;  // the control to focus when the window is activated
};

// Builds the window at the system DPI read once now. A failure of the toolkit, the font, the
// window or a control ends the process (fatal stop).
std::unique_ptr<InstallerWindow> build_main_window();

}  // namespace ombrel::win32
