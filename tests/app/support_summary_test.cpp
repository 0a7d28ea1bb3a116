// The support summary: every fact on its own labelled line, URLs without query
// or fragment, one line per download attempt.
#include "app/support_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrel {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CRLF";
  return lines;
}

const SystemFacts kSystem{"0.0.20", 10, 0, 19045, "x64", "fr_FR"};

TEST(SupportSummaryTest, UrlsLoseTheirQueryAndFragment) {
  const struct {
    const char* url;
    const char* shown;
  } cases[] = {{"https://h/prod/latest.json", "https://h/prod/latest.json"},
               {"https://h/a.exe?token=secret", "https://h/a.exe"},
               {"https://h/a.exe#part?x", "https://h/a.exe"},
               {"https://h/a.exe?x#y", "https://h/a.exe"},
               {"", ""}};
  for (const auto& test : cases) EXPECT_EQ(url_without_query(test.url), test.shown) << test.url;
}

TEST(SupportSummaryTest, AFailedRunHasOneLinePerAttemptAndEveryFact) {
  SummaryRun run;
  run.manifest_url = "https://dl.example/prod/win32-x64/latest.json?key=abc";
  run.installer_url = "https://cdn.example/Setup-1.2.exe?sig=xyz#frag";
  run.attempts = {{0, 200, "", 0, 1000000, 12345},
                  {1000000, 0, "timeout", 28, 0, 30000},
                  {1000000, 0, "connection reset", 56, 52, 49},
                  {1000000, 503, "", 0, 0, 950},
                  {1000000, 0, "could not connect", 7, 0, 0}};
  run.signature = SummarySignature{"untrusted", "Someone Else Ltd", 0x800B0109};
  EXPECT_EQ(lines_of(format_support_summary(kSystem, &run)),
            (std::vector<std::string>{
                "Program: Ombrel Loomwork Installer 0.0.20",
                "Windows: 10.0 build 19045",
                "Architecture: x64",
                "UI language: fr_FR",
                "Manifest URL: https://dl.example/prod/win32-x64/latest.json",
                "Installer URL: https://cdn.example/Setup-1.2.exe",
                "Attempt 1: from byte 0, HTTP 200, 1000000 bytes, 12.3 s",
                "Attempt 2: from byte 1000000, timeout (libcurl 28), 0 bytes, 30.0 s",
                "Attempt 3: from byte 1000000, connection reset (libcurl 56), 52 "
                "bytes, 0.0 s",
                "Attempt 4: from byte 1000000, HTTP 503, 0 bytes, 1.0 s",
                "Attempt 5: from byte 1000000, could not connect (libcurl 7), 0 "
                "bytes, 0.0 s",
                "Signature: untrusted, signer Someone Else Ltd, code 0x800B0109",
                "Installer exit code: not run",
                "Application: not looked for",
            }));
}

TEST(SupportSummaryTest, ASuccessfulRunAndRunsThatStoppedEarly) {
  SummaryRun success;
  success.manifest_url = "https://dl.example/latest.json";
  success.installer_url = "https://dl.example/Setup.exe";
  success.attempts = {{0, 200, "", 0, 2048, 1500}};
  success.signature = SummarySignature{"valid", "Ombrel Software", 0};
  success.installer_exit_code = 0;
  success.app_found = true;
  success.app_location =
      "C:\\Users\\a\\AppData\\Local\\Programs\\Ombrel "
      "Loomwork\\Ombrel Loomwork.exe";
  const std::vector<std::string> lines = lines_of(format_support_summary(kSystem, &success));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6], "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s");
  EXPECT_EQ(lines[7], "Signature: valid, signer Ombrel Software, code 0x00000000");
  EXPECT_EQ(lines[8], "Installer exit code: 0");
  EXPECT_EQ(lines[9], "Application: found at " + success.app_location);

  SummaryRun manifest_only;
  manifest_only.manifest_url = "https://dl.example/latest.json";
  manifest_only.installer_exit_code = 3;
  manifest_only.app_found = false;
  const std::vector<std::string> early = lines_of(format_support_summary(kSystem, &manifest_only));
  EXPECT_EQ(early[5], "Installer URL: none");
  EXPECT_EQ(early[6], "Download: not started");
  EXPECT_EQ(early[7], "Signature: not checked");
  EXPECT_EQ(early[8], "Installer exit code: 3");
  EXPECT_EQ(early[9], "Application: not found");

  EXPECT_EQ(lines_of(format_support_summary(kSystem, nullptr)).back(), "Run: none recorded");
}

}  // namespace
}  // namespace ombrel
