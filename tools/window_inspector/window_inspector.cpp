// Test tool: finds the installer's top-level window (class NativeWindowsGuiWindow), prints its
// state and that of its child controls as one JSON object, and optionally clicks the retry
// button, presses Ctrl+C in the window and reads the clipboard, or asks the window to close.
// Every message to the inspected process has a time-out, so a hung installer shows up as an
// error here instead of hanging the test.
//
//   window_inspector [--exe WINDOWS_PATH] [--wait SECONDS] [--click-retry] [--copy] [--close]
//                    [--copy-at STATUS_TEXT]
//   window_inspector [--exe WINDOWS_PATH] --watch-live SECONDS
//   window_inspector --hold-slot NAME [--publish-window]
//
// --exe picks the window of the process started from that executable, so test runs of different
// builds in one Wine prefix do not see each other's windows.
//
// --watch-live records, from outside the process (an out-of-context WinEvent hook), the live
// region announcements of the installer's controls: one JSON line per event with the control's
// text at that moment, after a first line {"watching": true}. It ends SECONDS later, or once the
// installer's window has come and gone.
//
// --copy-at waits (up to --wait) until the status label shows STATUS_TEXT and presses Ctrl+C at
// that moment: a window that closes two seconds after its last text leaves no time for a second
// inspector run.
//
// --hold-slot plays another program of the user that got to the installer's one-copy slot first:
// it creates a named file mapping NAME (zero-filled), with --publish-window writes the handle of
// a window of its own into it, prints {"holding": true, "existed": false|true} and holds it until
// its standard input closes.
//
// Exit status: 0 window found and printed (or watched), 2 no such window (within --wait), 64 bad
// usage.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"NativeWindowsGuiWindow";
constexpr UINT kMessageTimeoutMs = 2000;

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string handle_text(const void* handle) {
  char text[32];
  std::snprintf(text, sizeof(text), "\"0x%llx\"", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
  return handle != nullptr ? std::string(text) : "null";
}

std::wstring window_text(HWND window) {
  // GetWindowTextW reads another process's control text without sending it a message.
  wchar_t buffer[4096];
  const int length = GetWindowTextW(window, buffer, 4096);
  return std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

std::wstring class_name(HWND window) {
  wchar_t buffer[256];
  const int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR& result) {
  return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kMessageTimeoutMs,
                             &result) != 0;
}

// Position of `child` relative to the client area of its parent.
RECT client_rect_of(HWND child, HWND parent) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string rect_json(const RECT& r) {
  char text[128];
  std::snprintf(text, sizeof(text), "{\"x\": %ld, \"y\": %ld, \"width\": %ld, \"height\": %ld}", r.left, r.top,
                r.right - r.left, r.bottom - r.top);
  return text;
}

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // top-down
};

// The colour pixels of an icon, drawn over black with its mask applied.
bool icon_pixels(HICON icon, Pixels& out) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return false;
  BITMAP bitmap{};
  HBITMAP measured = info.hbmColor != nullptr ? info.hbmColor : info.hbmMask;
  const bool ok = GetObjectW(measured, sizeof(bitmap), &bitmap) != 0;
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  if (!ok) return false;
  out.width = bitmap.bmWidth;
  out.height = info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2;
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = out.width;
  bmi.bmiHeader.biHeight = -out.height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP target = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dc == nullptr || target == nullptr) {
    if (target != nullptr) DeleteObject(target);
    if (dc != nullptr) DeleteDC(dc);
    return false;
  }
  HGDIOBJ previous = SelectObject(dc, target);
  DrawIconEx(dc, 0, 0, icon, out.width, out.height, 0, nullptr, DI_NORMAL);
  GdiFlush();
  const auto* source = static_cast<const uint32_t*>(bits);
  out.argb.assign(source, source + static_cast<size_t>(out.width) * out.height);
  SelectObject(dc, previous);
  DeleteObject(target);
  DeleteDC(dc);
  return true;
}

std::string colour(uint32_t pixel) {
  char text[16];
  std::snprintf(text, sizeof(text), "\"#%06x\"", static_cast<unsigned>(pixel & 0xFFFFFF));
  return text;
}

// What an icon looks like: its size, a few sample colours and whether it is the stock error icon.
std::string icon_json(HICON icon) {
  if (icon == nullptr) return "null";
  Pixels pixels;
  if (!icon_pixels(icon, pixels) || pixels.width <= 0 || pixels.height <= 0) {
    return "{\"handle\": " + handle_text(icon) + ", \"readable\": false}";
  }
  auto at = [&](int x, int y) { return pixels.argb[static_cast<size_t>(y) * pixels.width + x]; };
  const int w = pixels.width;
  const int h = pixels.height;
  bool stock_error = false;
  HANDLE stock = LoadImageW(nullptr, MAKEINTRESOURCEW(32513), IMAGE_ICON, w, h, 0);
  if (stock != nullptr) {
    Pixels reference;
    stock_error = icon_pixels(static_cast<HICON>(stock), reference) && reference.argb == pixels.argb;
    DestroyIcon(static_cast<HICON>(stock));
  }
  std::string json = "{\"handle\": " + handle_text(icon) + ", \"readable\": true";
  json += ", \"width\": " + std::to_string(w) + ", \"height\": " + std::to_string(h);
  json += ", \"centre\": " + colour(at(w / 2, h / 2));
  // Three more points, in sixteenths of the icon: the top of the left thread, the left crossing
  // of the middle row, the top crossing of the middle thread.
  json += ", \"samples\": [" + colour(at(w * 4 / 16, h * 1 / 16 + h / 32)) + ", " + colour(at(w * 4 / 16, h * 8 / 16)) +
          ", " + colour(at(w * 8 / 16, h * 4 / 16)) + "]";
  json += ", \"stock_error_icon\": " + std::string(stock_error ? "true" : "false") + "}";
  return json;
}

std::wstring process_image(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  const bool ok = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
  CloseHandle(process);
  return ok ? std::wstring(path, size) : std::wstring();
}

// The first installer window, or the one whose process runs `exe` when that is given.
HWND find_installer_window(const std::wstring& exe) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kWindowClass, nullptr)) != nullptr) {
    if (exe.empty() || _wcsicmp(process_image(window).c_str(), exe.c_str()) == 0) return window;
  }
  return nullptr;
}

HWND find_window(const std::wstring& exe, double wait_seconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_seconds * 1000.0);
  for (;;) {
    HWND window = find_installer_window(exe);
    // Ready once it is visible and all six controls exist.
    if (window != nullptr && IsWindowVisible(window)) {
      int children = 0;
      for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ++children;
      }
      if (children >= 6) return window;
    }
    if (GetTickCount64() >= deadline) return window;
    Sleep(50);
  }
}

std::string child_json(HWND child, HWND parent, HWND focus) {
  const std::wstring cls = class_name(child);
  const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
  char style_text[32];
  std::snprintf(style_text, sizeof(style_text), "%lu", static_cast<unsigned long>(style));
  std::string json = "{\"class\": " + json_string(utf8(cls)) + ", \"handle\": " + handle_text(child);
  json += ", \"text\": " + json_string(utf8(window_text(child)));
  json += ", \"visible\": " + std::string(IsWindowVisible(child) ? "true" : "false");
  json += ", \"enabled\": " + std::string(IsWindowEnabled(child) ? "true" : "false");
  json += ", \"focused\": " + std::string(child == focus ? "true" : "false");
  json += ", \"style\": " + std::string(style_text);
  json += ", \"rect\": " + rect_json(client_rect_of(child, parent));
  // GDI handles belong to their process: only whether a font was set can be seen from here.
  DWORD_PTR font = 0;
  json += ", \"font\": " + (send(child, WM_GETFONT, 0, 0, font) ? handle_text(reinterpret_cast<void*>(font)) : "null");
  if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
    DWORD_PTR position = 0;
    DWORD_PTR low = 0;
    DWORD_PTR high = 0;
    const bool ok = send(child, PBM_GETPOS, 0, 0, position) && send(child, PBM_GETRANGE, TRUE, 0, low) &&
                    send(child, PBM_GETRANGE, FALSE, 0, high);
    json += ", \"progress\": ";
    json += ok ? "{\"position\": " + std::to_string(position) + ", \"low\": " + std::to_string(static_cast<int>(low)) +
                     ", \"high\": " + std::to_string(static_cast<int>(high)) +
                     ", \"marquee\": " + ((style & PBS_MARQUEE) != 0 ? "true" : "false") + "}"
               : std::string("null");
  }
  if (_wcsicmp(cls.c_str(), L"STATIC") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    DWORD_PTR icon = 0;
    json += ", \"icon\": " + (send(child, STM_GETICON, 0, 0, icon) ? icon_json(reinterpret_cast<HICON>(icon)) : "null");
  }
  return json + "}";
}

int usage() {
  std::fputs(
      "usage: window_inspector [--exe WINDOWS_PATH] [--wait SECONDS] [--click-retry] [--copy] [--close]\n"
      "                        [--copy-at STATUS_TEXT]\n"
      "       window_inspector [--exe WINDOWS_PATH] --watch-live SECONDS\n"
      "       window_inspector --hold-slot NAME [--publish-window]\n",
      stderr);
  return 64;
}

void write_out(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// --watch-live: the hook's callback runs on this thread, inside its message loop.
struct LiveWatch {
  std::wstring exe;
  DWORD process_id = 0;  // of the installer, once one of its windows raised an event
  int events = 0;
};
LiveWatch* live_watch = nullptr;

bool belongs_to_watched_exe(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (live_watch->process_id != 0) return process_id == live_watch->process_id;
  if (!live_watch->exe.empty() && _wcsicmp(process_image(window).c_str(), live_watch->exe.c_str()) != 0) return false;
  live_watch->process_id = process_id;
  return true;
}

void CALLBACK live_region_event(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  if (window == nullptr || !belongs_to_watched_exe(window)) return;
  ++live_watch->events;
  write_out("{\"event\": \"live\", \"class\": " + json_string(utf8(class_name(window))) +
            ", \"text\": " + json_string(utf8(window_text(window))) + "}\n");
}

int watch_live(const std::wstring& exe, double seconds) {
  LiveWatch watch{exe};
  live_watch = &watch;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_LIVEREGIONCHANGED, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                                       &live_region_event, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  write_out(std::string("{\"watching\": ") + (hook != nullptr ? "true" : "false") + "}\n");
  if (hook == nullptr) return 1;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
  bool seen = false;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 200)),
                              QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    const bool present = find_installer_window(exe) != nullptr;
    if (seen && !present) break;
    seen = seen || present;
  }
  UnhookWinEvent(hook);
  write_out("{\"events\": " + std::to_string(watch.events) + "}\n");
  return 0;
}

// The clipboard's Unicode text, or nothing when it holds none.
bool clipboard_text(std::wstring& text) {
  if (!OpenClipboard(nullptr)) return false;
  bool found = false;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      found = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return found;
}

// Empties the clipboard, presses Ctrl+C with the installer's window in front, and waits up to
// five seconds for text to appear on the clipboard.
std::string copy_from(HWND window) {
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  SetForegroundWindow(window);
  INPUT keys[4]{};
  const WORD codes[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  if (SendInput(4, keys, sizeof(INPUT)) != 4) return "null";
  std::wstring text;
  for (int i = 0; i < 100 && !clipboard_text(text); ++i) Sleep(50);
  return text.empty() ? "null" : json_string(utf8(text));
}

// Waits until the status label (the fourth control the window made) shows `text`.
bool wait_for_status(HWND window, const std::wstring& text, double wait_seconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_seconds * 1000.0);
  for (;;) {
    HWND status = GetWindow(window, GW_CHILD);
    for (int i = 0; i < 3 && status != nullptr; ++i) status = GetWindow(status, GW_HWNDNEXT);
    if (status != nullptr && window_text(status) == text) return true;
    if (!IsWindow(window) || GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

// --hold-slot: the mapping stays while this process lives; its standard input is read on a thread
// of its own so that the main thread keeps serving the window it may have published.
DWORD WINAPI quit_when_input_ends(void* main_thread) {
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr) && read != 0) {
  }
  PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(main_thread)), WM_QUIT, 0, 0);
  return 0;
}

int hold_slot(const std::wstring& name, bool publish_window) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (mapping == nullptr) {
    std::fprintf(stderr, "CreateFileMappingW failed: %lu\n", GetLastError());
    return 1;
  }
  HWND window = nullptr;
  if (publish_window) {
    window = CreateWindowExW(0, L"STATIC", L"not the installer", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                             nullptr, nullptr);
    auto* view = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    if (window == nullptr || view == nullptr) {
      std::fprintf(stderr, "could not publish a window: %lu\n", GetLastError());
      return 1;
    }
    InterlockedExchange(view, static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
  }
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, before anyone posts to it
  const HANDLE reader = CreateThread(nullptr, 0, quit_when_input_ends,
                                     reinterpret_cast<void*>(static_cast<DWORD_PTR>(GetCurrentThreadId())), 0, nullptr);
  if (reader == nullptr) return 1;
  write_out("{\"holding\": true, \"existed\": " + std::string(existed ? "true" : "false") +
            ", \"window\": " + handle_text(window) + "}\n");
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  CloseHandle(reader);
  if (window != nullptr) DestroyWindow(window);
  CloseHandle(mapping);
  return 0;
}

// Physical pixels, whatever the system DPI: the same coordinates the DPI-aware installer uses.
void become_dpi_aware() {
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  auto set_context = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (set_context == nullptr || !set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) SetProcessDPIAware();
}

// The top-level window's own state, as the "window" object.
std::string window_json(HWND window, const GUITHREADINFO* gui) {
  RECT client{};
  GetClientRect(window, &client);
  RECT outer{};
  GetWindowRect(window, &outer);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  DWORD_PTR small_icon = 0;
  const bool have_icon = send(window, WM_GETICON, ICON_SMALL, 0, small_icon);

  std::string json = "{\"handle\": " + handle_text(window);
  json += ", \"class\": " + json_string(utf8(class_name(window)));
  json += ", \"title\": " + json_string(utf8(window_text(window)));
  json += ", \"visible\": " + std::string(IsWindowVisible(window) ? "true" : "false");
  json += ", \"style\": " + std::to_string(static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE)));
  json += ", \"ex_style\": " + std::to_string(static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  json += ", \"client\": {\"width\": " + std::to_string(client.right) +
          ", \"height\": " + std::to_string(client.bottom) + ", \"screen_x\": " + std::to_string(origin.x) +
          ", \"screen_y\": " + std::to_string(origin.y) + "}";
  json += ", \"outer\": " + rect_json(outer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    json += ", \"monitor\": " + rect_json(monitor.rcMonitor);
  }
  json += ", \"small_icon\": " + (have_icon ? icon_json(reinterpret_cast<HICON>(small_icon)) : std::string("null"));
  json += ", \"focus\": " + handle_text(gui != nullptr ? gui->hwndFocus : nullptr);
  json += ", \"active\": " + handle_text(gui != nullptr ? gui->hwndActive : nullptr) + "}";
  return json;
}

struct Children {
  std::string json;      // the "children" array
  HWND retry = nullptr;  // the last button, the retry button
};

Children children_of(HWND window, HWND focus) {
  Children children{"["};
  bool first = true;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!first) children.json += ", ";
    first = false;
    children.json += child_json(child, window, focus);
    if (_wcsicmp(class_name(child).c_str(), L"BUTTON") == 0) children.retry = child;
  }
  children.json += "]";
  return children;
}

// What the default verb was asked: which window, and what to do to it once printed.
struct Inspection {
  std::wstring exe;
  double wait_seconds = 0.0;
  std::wstring copy_at;
  bool click_retry = false;
  bool copy = false;
  bool close = false;
};

// The default verb: prints what the installer's window shows, then does what was asked.
int inspect(const Inspection& asked) {
  HWND window = find_window(asked.exe, asked.wait_seconds);
  if (window == nullptr) {
    std::fputs("{\"found\": false}\n", stdout);
    return 2;
  }
  if (!asked.copy_at.empty() && !wait_for_status(window, asked.copy_at, asked.wait_seconds)) {
    write_out("{\"found\": true, \"clipboard\": null, \"status_seen\": false}\n");
    return 0;
  }

  DWORD process_id = 0;
  const DWORD thread_id = GetWindowThreadProcessId(window, &process_id);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof(gui);
  const bool have_gui = GetGUIThreadInfo(thread_id, &gui) != 0;
  std::string json = "{\"found\": true, \"window\": " + window_json(window, have_gui ? &gui : nullptr);
  const Children children = children_of(window, have_gui ? gui.hwndFocus : nullptr);
  json += ", \"children\": " + children.json;

  if (asked.click_retry) {
    // Posted, so a busy installer cannot block the inspector; the button turns it into a
    // real press and release, and so into BN_CLICKED to its parent.
    const bool posted = children.retry != nullptr && PostMessageW(children.retry, BM_CLICK, 0, 0);
    json += ", \"clicked_retry\": " + std::string(posted ? "true" : "false");
  }
  if (asked.copy) json += ", \"clipboard\": " + copy_from(window);
  if (asked.close) {
    json += ", \"closed\": " + std::string(PostMessageW(window, WM_CLOSE, 0, 0) ? "true" : "false");
  }
  json += "}\n";
  write_out(json);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  become_dpi_aware();
  Inspection inspection;
  double watch_seconds = -1.0;
  std::wstring slot;
  bool publish_window = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--exe" && i + 1 < argc) {
      inspection.exe = argv[++i];
    } else if (arg == L"--wait" && i + 1 < argc) {
      inspection.wait_seconds = std::wcstod(argv[++i], nullptr);
    } else if (arg == L"--click-retry") {
      inspection.click_retry = true;
    } else if (arg == L"--close") {
      inspection.close = true;
    } else if (arg == L"--copy") {
      inspection.copy = true;
    } else if (arg == L"--copy-at" && i + 1 < argc) {
      inspection.copy = true;
      inspection.copy_at = argv[++i];
    } else if (arg == L"--watch-live" && i + 1 < argc) {
      watch_seconds = std::wcstod(argv[++i], nullptr);
    } else if (arg == L"--hold-slot" && i + 1 < argc) {
      slot = argv[++i];
    } else if (arg == L"--publish-window") {
      publish_window = true;
    } else {
      return usage();
    }
  }

  if (!slot.empty()) return hold_slot(slot, publish_window);
  if (watch_seconds >= 0.0) return watch_live(inspection.exe, watch_seconds);
  return inspect(inspection);
}
