#pragma once
// Helpers for tests that start the stand-in installer program (tests/child/test_child.cpp),
// which is built next to the test executables.
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace ombrel::test {

// Full path of the test child program, in the system's own form (a Windows path under Wine).
std::string test_child_path();

// Sets an environment variable for the rest of the test, restoring the old value afterwards;
// child processes started meanwhile inherit it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The record the test child writes: its pid, (Windows) raw command line and arguments.
struct ChildRecord {
  long pid = 0;
  std::string command_line;
  std::vector<std::string> arguments;
};
std::optional<ChildRecord> read_child_record(const std::filesystem::path& path);

// Waits for the record, which the child writes as soon as it starts; nothing after `limit`.
std::optional<ChildRecord> await_child_record(const std::filesystem::path& path,
                                              std::chrono::milliseconds limit = std::chrono::seconds(10));

// Whether a child the test started still runs (on POSIX: not yet ended, so not yet reaped).
bool child_running(long pid);

// Kills a child the test started and waits for its end (reaping it on POSIX).
void kill_child(long pid);

// Starts the test child holding `file` as another program would (OMBREL_TEST_CHILD_HOLD) for
// `duration`, and returns its pid once the hold is in place (its record, written to `record`,
// says so); nothing when it did not start.
std::optional<long> start_file_holder(const std::filesystem::path& file, std::chrono::milliseconds duration,
                                      const std::filesystem::path& record);

}  // namespace ombrel::test
