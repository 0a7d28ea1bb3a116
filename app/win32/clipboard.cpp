#include "app/win32/clipboard.h"

#include <cstring>
#include <string>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace ombrel::win32 {
namespace {

// The clipboard, open for this thread while the owner lives.
class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) : open_(OpenClipboard(owner) != 0) {}
  ~OpenedClipboard() { reset(); }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;

  bool open() const { return open_; }
  void reset() {
    if (open_) CloseClipboard();
    open_ = false;
  }

 private:
  bool open_;
};

// Movable global memory, freed unless the clipboard took it over.
struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static void close(HGLOBAL memory) { GlobalFree(memory); }
};

}  // namespace

bool put_on_clipboard(HWND owner, std::string_view text) {
  const std::wstring wide = to_wide(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  UniqueHandle<GlobalMemoryTraits> memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (memory.get() == nullptr) return false;
  void* target = GlobalLock(memory.get());
  if (target == nullptr) return false;
  std::memcpy(target, wide.c_str(), bytes);
  GlobalUnlock(memory.get());

  OpenedClipboard clipboard(owner);
  if (!clipboard.open() || !EmptyClipboard()) return false;
  if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) return false;
  memory.release();  // the clipboard owns it from a successful SetClipboardData on
  return true;
}

}  // namespace ombrel::win32
