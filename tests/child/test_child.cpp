// A stand-in payload installer for the process and installer-run tests. Its behaviour comes
// from the environment it inherits, because its command line is fixed by the code under test:
//   OMBREL_TEST_CHILD_RECORD   file to write: "pid=<n>", on Windows "cmdline=<raw command line>",
//                              then one "arg=<argument>" line per argv entry (argv[0] included)
//   OMBREL_TEST_CHILD_SLEEP_MS milliseconds to wait before exiting
//   OMBREL_TEST_CHILD_EXIT     exit code, decimal or 0x-hexadecimal (off Windows only 0..255)
//   OMBREL_TEST_CHILD_ABORT    when set, end through abort() instead (a signal death off Windows)
//   OMBREL_TEST_CHILD_HOLD     file to hold, before the record is written, until the child ends,
//                              as a scanner does: on Windows opened without any sharing, elsewhere
//                              open for writing (which makes a start of it fail with ETXTBSY)
// The record is written first, complete, and renamed into place, so a test that sees the file
// sees all of it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}
#endif

void write_record(const std::string& path, int argc, char** argv) {
  std::string text;
#ifdef _WIN32
  text += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  text += "cmdline=" + utf8(GetCommandLineW()) + "\n";
  int count = 0;
  if (wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) text += "arg=" + utf8(args[i]) + "\n";
    LocalFree(args);
  }
  (void)argc, (void)argv;
#else
  text += "pid=" + std::to_string(getpid()) + "\n";
  for (int i = 0; i < argc; ++i) text += std::string("arg=") + argv[i] + "\n";
#endif
  const std::string partial = path + ".partial";
  if (FILE* file = std::fopen(partial.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::remove(path.c_str());
    std::rename(partial.c_str(), path.c_str());
  }
}

}  // namespace

// Opens `path` the way another program holding it would; the handle ends with the process.
void hold(const std::string& path) {
#ifdef _WIN32
  const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
  if (CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) {
    ExitProcess(90);
  }
#else
  if (::open(path.c_str(), O_WRONLY | O_CLOEXEC) < 0) std::exit(90);
#endif
}

int main(int argc, char** argv) {
  const std::string held = env("OMBREL_TEST_CHILD_HOLD");
  if (!held.empty()) hold(held);
  const std::string record = env("OMBREL_TEST_CHILD_RECORD");
  if (!record.empty()) write_record(record, argc, argv);
  const std::string sleep_ms = env("OMBREL_TEST_CHILD_SLEEP_MS");
  if (!sleep_ms.empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(std::strtoll(sleep_ms.c_str(), nullptr, 10)));
  if (!env("OMBREL_TEST_CHILD_ABORT").empty()) std::abort();
  const std::string code = env("OMBREL_TEST_CHILD_EXIT");
  const auto exit_code = static_cast<std::uint32_t>(code.empty() ? 0 : std::strtoull(code.c_str(), nullptr, 0));
#ifdef _WIN32
  ExitProcess(exit_code);
#else
  return static_cast<int>(exit_code & 0xFF);
#endif
}
