#include "app/win32/single_instance.h"

namespace ombrel::win32 {
namespace {

// "Local\": the user's own session; another user's copy (fast user switching) is no conflict.
constexpr wchar_t kSlotName[] = L"Local\\OmbrelLoomworkWebInstaller";

// The first copy may still be building its window: wait for it a little, then give up quietly.
constexpr int kWindowPolls = 50;
constexpr DWORD kWindowPollMs = 100;

void bring_to_front(volatile LONG* shared) {
  for (int poll = 0; poll < kWindowPolls; ++poll) {
    const auto window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(InterlockedCompareExchange(shared, 0, 0)));
    if (window != nullptr && IsWindow(window)) {
      if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
      // Allowed: this copy was just started by the user, so it may hand the foreground over.
      SetForegroundWindow(window);
      return;
    }
    Sleep(kWindowPollMs);
  }
}

}  // namespace

std::optional<SingleInstance> SingleInstance::claim() {
  const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), kSlotName);
  const bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
  if (mapping == nullptr) return SingleInstance(nullptr, nullptr);
  auto* window =
      static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
  SingleInstance slot(mapping, window);
  if (!taken) return slot;
  if (window != nullptr) bring_to_front(window);
  return std::nullopt;
}

void SingleInstance::publish_window(HWND window) {
  if (window_) InterlockedExchange(window_.get(), static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
}

void SingleInstance::reset() {
  window_.reset();  // the view before its mapping
  mapping_.reset();
}

}  // namespace ombrel::win32
