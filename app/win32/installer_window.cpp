#include "app/win32/installer_window.h"

#include <commctrl.h>

#include <string>

#include "app/win32/centred_label.h"
#include "app/win32/gui_toolkit.h"
#include "app/win32/live_region.h"
#include "app/win32/window_icon.h"
#include "platform/fatal.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "translations/translations.h"

namespace ombrel::win32 {
namespace {

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_VISIBLE | WS_CLIPCHILDREN;
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_NOTIFY | SS_CENTER;
constexpr DWORD kIconFrameStyle = WS_CHILD | WS_VISIBLE | SS_ICON | SS_NOTIFY | SS_CENTERIMAGE;
constexpr DWORD kProgressStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kRetryStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_NOTIFY;

// One child control with the default font; a control that cannot be made ends the process.
UniqueWindow create_control(HWND parent, const wchar_t* window_class, const std::wstring& text, DWORD style,
                            const Rect& place, HFONT font, const char* name) {
  HWND control = CreateWindowExW(0, window_class, text.c_str(), style, place.x, place.y, place.width, place.height,
                                 parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (control == nullptr) platform::fatal_stop(name);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return UniqueWindow(control);
}

UniqueWindow create_label(HWND parent, const std::wstring& text, const Rect& place, HFONT font, const char* name) {
  UniqueWindow label = create_control(parent, L"STATIC", text, kLabelStyle, place, font, name);
  centre_text_vertically(label.get());
  return label;
}

// The top-level window at (300, 300) with a client area of the layout's size, then centred on
// its monitor's full rectangle.
HWND create_top_level(const WindowLayout& layout, void* owner) {
  RECT outer{0, 0, layout.client_width, layout.client_height};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, 0);
  const std::wstring title = to_wide(tr(keys::kWindowTitle));
  HWND window = CreateWindowExW(0, kWindowClassName, title.c_str(), kWindowStyle, 300, 300, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, GetModuleHandleW(nullptr), owner);
  if (window == nullptr) return nullptr;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const MonitorRect full{monitor.rcMonitor.left, monitor.rcMonitor.top, monitor.rcMonitor.right,
                           monitor.rcMonitor.bottom};
    const Point corner = centre_on_monitor(full, layout.client_width, layout.client_height);
    SetWindowPos(window, nullptr, corner.x, corner.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
  }
  return window;
}

}  // namespace

void CloseTimer::start() {
  if (timer_.window == nullptr) return;
  // SetTimer with an id already running replaces it, so the interval counts from now.
  if (SetTimer(timer_.window, timer_.id, kIntervalMs, nullptr) == 0) {
    running_.reset();
  } else if (!running_) {
    running_ = UniqueHandle<TimerTraits>(timer_);
  }
}

void InstallerWindow::initialize_toolkit() {
  // A failure of common controls shows as a missing progress class, reported when the bar
  // cannot be created.
  initialize_common_controls();
  if (!register_window_class(&InstallerWindow::procedure)) {
    // The text names the GUI toolkit the program's diagnostics have always named, so tools and
    // support staff that match it keep working; our window code takes its place.
    platform::fatal_stop("Failed to initialize native-windows-gui");
  }
}

std::unique_ptr<InstallerWindow> InstallerWindow::build(double scale) {
  // Idempotent: tests build windows without build_main_window.
  initialize_toolkit();

  std::unique_ptr<InstallerWindow> self(new InstallerWindow());
  // The scale is fixed for the life of the window.
  self->layout_ = window_layout(scale);
  const WindowLayout& layout = self->layout_;

  self->font_ = create_default_font(layout.font_height);
  if (self->font_.get() == nullptr) platform::fatal_stop("default font");
  const HFONT font = self->font_.get();

  // Centred on its monitor.
  HWND window = create_top_level(layout, self.get());
  if (window == nullptr) platform::fatal_stop("window");
  self->window_ = UniqueWindow(window);

  // The icon at I × I, also the title bar's small icon.
  self->icon_ = make_window_icon(stored_icon_image(), layout.icon_size);
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(self->icon_.get()));

  // The six controls, in tab order.
  self->icon_frame_ = create_control(window, L"STATIC", L"", kIconFrameStyle, layout.icon_frame, font, "icon frame");
  auto replaced = reinterpret_cast<HICON>(
      SendMessageW(self->icon_frame_.get(), STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(self->icon_.get())));
  if (replaced != nullptr && replaced != self->icon_.get()) DestroyIcon(replaced);

  self->title_label_ = create_label(window, to_wide(tr(keys::kTitleHeading)), layout.title_label, font, "title label");

  self->progress_bar_ =
      create_control(window, PROGRESS_CLASSW, L"", kProgressStyle, layout.progress_bar, font, "progress");
  HWND bar = self->progress_bar_.get();
  SendMessageW(bar, PBM_SETSTATE, PBST_NORMAL, 0);
  SendMessageW(bar, PBM_SETSTEP, 1, 0);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  SendMessageW(bar, PBM_SETRANGE32, 0, kBarRange);
  SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);

  self->status_label_ = create_label(window, L"", layout.status_label, font, "status label");
  // Without the property (Wine, older Windows) screen readers still read the label on demand.
  make_polite_live_region(self->status_label_.get());

  self->retry_button_ = create_control(window, L"BUTTON", to_wide(tr(keys::kButtonRetry)), kRetryStyle,
                                       layout.retry_button, font, "retry button");
  ShowWindow(self->retry_button_.get(), SW_HIDE);

  self->version_label_ =
      create_label(window, to_wide(std::string("v") + OMBREL_VERSION), layout.version_label, font, "version label");

  // The close timer is created stopped.
  self->notice_id_ = platform::next_notice_id();
  self->close_timer_ = CloseTimer(window, platform::next_notice_id());
  return self;
}

InstallerWindow::~InstallerWindow() {
  // No event reaches a handler while the record is taken apart.
  handler_ = nullptr;
  // Member order. Destroying the window takes its children with it; their owners then
  // find them gone. The icon goes after the frame that showed it.
  window_.reset();
  icon_.reset();
  icon_frame_.reset();
  title_label_.reset();
  progress_bar_.reset();
  status_label_.reset();
  retry_button_.reset();
  version_label_.reset();
  close_timer_.stop();
  font_.reset();
}

LRESULT CALLBACK InstallerWindow::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->handle(hwnd, message, wparam, lparam);
}

LRESULT InstallerWindow::handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case platform::kNoticeMessage:
      raise({WindowEventKind::kNotice, hwnd, static_cast<std::uintptr_t>(wparam)});
      return 0;
    case WM_COMMAND:
      // BN_CLICKED only: the double-click notification of a BS_NOTIFY button is another event.
      if (HIWORD(wparam) == BN_CLICKED && lparam != 0) {
        raise({WindowEventKind::kButtonClick, reinterpret_cast<HWND>(lparam), 0});
      } else if (HIWORD(wparam) == 1 && lparam == 0 && LOWORD(wparam) == OMBREL_ID_COPY_SUMMARY) {
        raise({WindowEventKind::kCopySummary, hwnd, 0});  // 1: from an accelerator
      }
      return 0;
    case WM_TIMER:
      if (wparam == close_timer_.id()) {
        close_timer_.ticked();
        raise({WindowEventKind::kTimerTick, hwnd, static_cast<std::uintptr_t>(wparam)});
        return 0;
      }
      break;
    case WM_CLOSE:
      raise({WindowEventKind::kClose, hwnd, 0});
      break;  // the default handling destroys the window
    case WM_ACTIVATE:
      // As a dialog does: keep the control that had the keyboard focus across deactivation,
      // and give it back on activation (the default would focus the window itself, and
      // activation may come after a failure has already focused the retry button).
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd, focus)) focus_child_ = focus;
      } else if (focus_child_ != nullptr && IsChild(hwnd, focus_child_) && IsWindowVisible(focus_child_) &&
                 IsWindowEnabled(focus_child_)) {
        SetFocus(focus_child_);
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      // Labels and the icon frame have no background of their own: they show the window's
      // (the class brush), whatever colour the system gives static controls. The text takes
      // the colour a theme pairs with that background, so contrast themes keep it readable.
      SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_MENUTEXT));
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_MENU));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENU));
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void InstallerWindow::raise(const WindowEvent& event) {
  if (handler_) {
    // A copy: the handler may unbind itself while it runs.
    WindowEventHandler handler = handler_;
    handler(event);
  }
}

void InstallerWindow::set_status_text(std::string_view text) {
  SetWindowTextW(status_label_.get(), to_wide(text).c_str());
}

void InstallerWindow::set_marquee(bool on, unsigned interval_ms) {
  // Common controls animate a bar only while it has PBS_MARQUEE, and with the style a bar
  // ignores its position; so the style is added for the animation and taken away again for
  // the stages that show a position.
  HWND bar = progress_bar_.get();
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (on) {
    SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, interval_ms);
  } else {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  }
  InvalidateRect(bar, nullptr, TRUE);
}

void InstallerWindow::set_bar_position(unsigned position) {
  SendMessageW(progress_bar_.get(), PBM_SETPOS, position, 0);
}

void InstallerWindow::show_retry(bool visible) { ShowWindow(retry_button_.get(), visible ? SW_SHOW : SW_HIDE); }

void InstallerWindow::focus_retry() {
  focus_child_ = retry_button_.get();
  SetFocus(retry_button_.get());
}

void InstallerWindow::start_close_timer() { close_timer_.start(); }

void InstallerWindow::announce_status(const InstallStage& stage) {
  if (announcer_.should_announce(stage)) announce_live_region(status_label_.get());
}

std::unique_ptr<InstallerWindow> build_main_window() { return InstallerWindow::build(ui_scale(GetDpiForSystem())); }

}  // namespace ombrel::win32
