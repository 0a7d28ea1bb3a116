#pragma once
// What a file operation's system code says about the user's own machine, and the short wait for
// another program that holds a file: security software typically opens a freshly written file
// for a few seconds, and a disk that is full stays full whatever we retry.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"

namespace ombrel {

// Which file is held: the downloaded installer (its check and its start), or the partial download
// and its sidecar. Scanners refuse the start of an executable they are still reading as access
// denied, so that code counts as a hold for the installer only.
enum class FileRole : std::uint8_t { kInstaller, kDownloadData };

// The disk (or the user's quota on it) has no room left.
bool is_disk_full(std::uint32_t code);

// The file is gone, or the system refuses it as infected: another program removed or blocked it.
bool is_removed_or_blocked(std::uint32_t code);

struct HoldWait {
  // Pauses start here and double; all of them together stay within `budget`.
  std::chrono::milliseconds first_pause{100};
  std::chrono::milliseconds budget{10'000};
  // Waits out one pause; tests count them instead. Empty: the thread sleeps.
  std::function<void(std::chrono::milliseconds)> pause;
};

// Pauses while `code` says another program holds the file at `path` and the budget lasts.
class HoldWaiter {
 public:
  HoldWaiter(const std::string& path, FileRole kind, const HoldWait& wait) : path_(path), kind_(kind), wait_(wait) {}

  // True after a pause when `code` is a hold worth waiting for; false when it is not, or when the
  // budget is spent (the caller then fails with `code`).
  bool pause_if_held(std::uint32_t code);

 private:
  const std::string& path_;
  FileRole kind_;
  const HoldWait& wait_;
  std::chrono::milliseconds spent_{0};
  std::chrono::milliseconds next_{0};
};

// Runs `operation` until it succeeds, fails for another reason than a hold, or the wait's budget
// is spent; gives its last result.
template <class T, class Operation>
platform::FileResult<T> retry_while_held(const std::string& path, FileRole kind, const HoldWait& wait,
                                         Operation operation) {
  HoldWaiter waiter(path, kind, wait);
  for (;;) {
    platform::FileResult<T> result = operation();
    if (result || !waiter.pause_if_held(result.error())) return result;
  }
}

}  // namespace ombrel
