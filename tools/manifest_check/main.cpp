// manifest-check: tells what the installer would do with a manifest file, or whether a host
// lets an installer download resume.
//
//   manifest-check [--manifest-url URL] FILE   one line: "installer: <url>" or "error: <text>"
//   manifest-check --check-resume URL          one line about resuming
//   manifest-check --check-installer FILE      the file's signer and whether the build's
//                                              publisher check passes, or why not
//
// Exit status 0 when the installer would proceed (or resuming works), 1 when not, 2 on a usage
// error or an unreadable file.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/manifest_check/check_installer.h"
#include "tools/manifest_check/check_resume.h"
#include "tools/manifest_check/manifest_verdict.h"

#ifdef _WIN32
#include "platform/win32/wide.h"
#endif

namespace {

int usage() {
  std::cerr << "usage: manifest-check [--manifest-url URL] FILE\n"
               "       manifest-check --check-resume URL\n"
               "       manifest-check --check-installer FILE\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "--check-resume") return ombrel::tools::run_check_resume(args[1], std::cout);
  if (args.size() == 2 && args[0] == "--check-installer") {
    return ombrel::tools::run_check_installer(args[1], std::cout, std::cerr);
  }

  std::string manifest_url = ombrel::tools::default_check_manifest_url();
  std::string file;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--manifest-url" && i + 1 < args.size()) {
      manifest_url = args[++i];
    } else if (file.empty() && !args[i].starts_with("--")) {
      file = args[i];
    } else {
      return usage();
    }
  }
  if (file.empty()) return usage();

  // The path is UTF-8 on every system.
  std::ifstream in(std::filesystem::path(std::u8string(file.begin(), file.end())), std::ios::binary);
  const std::string body = in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : "";
  if (!in && !in.eof()) {
    std::cerr << "manifest-check: cannot read " << file << "\n";
    return 2;
  }

  const std::string verdict = ombrel::tools::manifest_verdict(body, manifest_url);
  std::cout << verdict << '\n';
  return verdict.starts_with("installer: ") ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ombrel::win32::from_wide(argv[i]));
  return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
