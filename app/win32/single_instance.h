#pragma once
// One copy of the installer per user session: two copies would download into the same file and
// sidecar and could start two installers.
#include <windows.h>

#include <optional>

#include "platform/win32/unique_handle.h"

namespace ombrel::win32 {

class SingleInstance {
 public:
  // Claims the session's slot (a named object in the session's own namespace, never global).
  // Nothing when another copy of this program file holds it: that copy's window has then been
  // brought to the front and this copy should exit. When no window of this program appears in
  // the slot within 5 s (a squatter holds it, or the first copy never showed its window), or the
  // slot cannot be made at all, this copy runs: refusing to run over a failed check would help
  // nobody. The slot goes with the process that holds it, so a copy that crashed never blocks a
  // later one.
  static std::optional<SingleInstance> claim();

  SingleInstance(SingleInstance&& other) noexcept = default;
  SingleInstance& operator=(SingleInstance&&) = delete;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  ~SingleInstance() { reset(); }

  // Lets a later copy find this copy's window.
  void publish_window(HWND window);

  void reset();

 private:
  SingleInstance(HANDLE mapping, volatile LONG* window) : mapping_(mapping), window_(window) {}

  struct ViewTraits {
    using Handle = volatile LONG*;
    static void close(volatile LONG* view) { UnmapViewOfFile(const_cast<LONG*>(view)); }
  };

  UniqueKernelHandle mapping_;       // empty: no slot (none could be made)
  UniqueHandle<ViewTraits> window_;  // the shared window handle (HWNDs fit in 32 bits)
};

}  // namespace ombrel::win32
