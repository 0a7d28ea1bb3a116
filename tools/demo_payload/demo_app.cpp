// The demo "Ombrel Loomwork.exe": a small window saying the application runs. On start it
// writes "ombrel-demo-app-started.txt" (its path, command line and process id) into the marker
// folder, so a test can see that the installer started it and how. It closes itself after
// OMBREL_DEMO_APP_SECONDS seconds (default 60; 0 keeps it open until closed).
#include <windows.h>

#include <string>

#include "demo_common.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      if (wparam == kCloseTimer) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void write_marker() {
  std::string text = "path=" + ombrel::demo::to_utf8(ombrel::demo::own_path()) + "\n";
  text += "cmdline=" + ombrel::demo::to_utf8(GetCommandLineW()) + "\n";
  text += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  ombrel::demo::write_file(ombrel::demo::marker_folder() + L"ombrel-demo-app-started.txt", text);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  write_marker();

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"OmbrelLoomworkDemoApp";
  if (!RegisterClassExW(&window_class)) return 1;

  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Ombrel Loomwork", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 180, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  RECT client{};
  GetClientRect(window, &client);
  CreateWindowExW(0, L"STATIC", L"Ombrel Loomwork (demo) is running.", WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                  client.bottom / 2 - 10, client.right, 20, window, nullptr, instance, nullptr);
  ShowWindow(window, show);

  const std::wstring seconds_text = ombrel::demo::environment(L"OMBREL_DEMO_APP_SECONDS");
  const unsigned long seconds = seconds_text.empty() ? 60 : wcstoul(seconds_text.c_str(), nullptr, 10);
  if (seconds > 0) SetTimer(window, kCloseTimer, seconds * 1000, nullptr);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
