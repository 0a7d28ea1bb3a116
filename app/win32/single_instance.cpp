#include "app/win32/single_instance.h"

#include <string>

namespace ombrel::win32 {
namespace {

// "Local\": the user's own session; another user's copy (fast user switching) is no conflict.
constexpr wchar_t kSlotName[] = L"Local\\OmbrelLoomworkWebInstaller";

// The first copy may still be building its window: wait for it a little, then run on our own.
constexpr int kWindowPolls = 50;
constexpr DWORD kWindowPollMs = 100;

// The full path of the program `process` runs; empty when it cannot be read.
std::wstring image_path(HANDLE process) {
  std::wstring path(32768, L'\0');  // the longest path Windows has
  auto size = static_cast<DWORD>(path.size());
  if (QueryFullProcessImageNameW(process, 0, path.data(), &size) == 0) return {};
  path.resize(size);
  return path;
}

// Whether `window` belongs to a process running this very program file. Any program of the user
// can open the slot and write a handle into it; only a copy of ours gets the foreground from us.
bool runs_this_program(HWND window, const std::wstring& own_image) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == 0) return false;
  const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return false;
  const std::wstring image = image_path(process.get());
  // Paths compare as the file system names them: ordinal, ignoring case.
  return !image.empty() && CompareStringOrdinal(image.c_str(), static_cast<int>(image.size()), own_image.c_str(),
                                                static_cast<int>(own_image.size()), TRUE) == CSTR_EQUAL;
}

// Brings the first copy's window forward; false when no window of this program showed up in the
// slot in time (a squatter, or a first copy that never got as far as its window).
bool bring_first_copy_forward(volatile LONG* shared) {
  const std::wstring own_image = image_path(GetCurrentProcess());
  if (own_image.empty()) return false;
  for (int poll = 0; poll < kWindowPolls; ++poll) {
    const auto window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(InterlockedCompareExchange(shared, 0, 0)));
    if (window != nullptr && IsWindow(window) && runs_this_program(window, own_image)) {
      if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
      // Allowed: this copy was just started by the user, so it may hand the foreground over.
      SetForegroundWindow(window);
      return true;
    }
    Sleep(kWindowPollMs);
  }
  return false;
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
  if (window != nullptr && bring_first_copy_forward(window)) return std::nullopt;
  // No copy of ours answered: run as the first copy would, and publish this window in the slot.
  return slot;
}

void SingleInstance::publish_window(HWND window) {
  if (window_) InterlockedExchange(window_.get(), static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
}

void SingleInstance::reset() {
  window_.reset();  // the view before its mapping
  mapping_.reset();
}

}  // namespace ombrel::win32
