// The support summary: every fact on its own labelled line, URLs without query
// or fragment, one line per download attempt, each failure with its reason and code.
#include "app/support_summary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/http_client.h"
#include "tests/support/test_host.h"

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

const SystemFacts kSystem{"0.0.20", 10, 0, 19045, "x64", "fr_FR", {}};

TEST(SupportSummaryTest, UrlsLoseTheirUserQueryAndFragment) {
  const struct {
    const char* url;
    const char* shown;
  } cases[] = {{"https://h/prod/latest.json", "https://h/prod/latest.json"},
               {"https://h/a.exe?token=secret", "https://h/a.exe"},
               {"https://h/a.exe#part?x", "https://h/a.exe"},
               {"https://h/a.exe?x#y", "https://h/a.exe"},
               {"https://ann:pa55@h:8443/a.exe", "https://h:8443/a.exe"},
               {"https://a@b@h/x@y.exe?u=v@w", "https://h/x@y.exe"},
               {"", ""}};
  for (const auto& test : cases) EXPECT_EQ(url_for_summary(test.url), test.shown) << test.url;
}

PipelineError error(FailureReason reason, std::uint32_t code, std::string detail = {}) {
  return PipelineError{reason, code, std::move(detail)};
}

TEST(SupportSummaryTest, AFailedRunHasOneLinePerAttemptAndEveryFact) {
  RunRecord run;
  run.manifest_url = "https://dl.example/prod/win32-x64/latest.json?key=abc";
  run.installer_url = "https://cdn.example/Setup-1.2.exe?sig=xyz#frag";
  run.attempts = {{0, 200, error(FailureReason::kBodyRead, 56), 1000000, 12.34},
                  {1000000, 0, error(FailureReason::kTransport, 28), 0, 30.0},
                  {1000000, 206, error(FailureReason::kRangeMismatch, 206), 0, 0.049},
                  {1000000, 503, error(FailureReason::kHttpStatus, 503), 0, 0.95},
                  {1000000, 200, error(FailureReason::kDiskFull, 112), 52, 0.0}};
  run.signature =
      platform::SignatureVerdict{platform::SignatureVerdict::Outcome::kOtherPublisher, "Someone Else Ltd", 0x800B0109};
  run.failure = run.attempts.back().failure;
  EXPECT_EQ(lines_of(format_support_summary(kSystem, &run, false)),
            (std::vector<std::string>{
                "Program: Ombrel Loomwork Installer 0.0.20",
                "Windows: 10.0 build 19045",
                "Architecture: x64",
                "UI language: fr_FR",
                "Last run: failed, DiskFull (code 112)",
                "Manifest URL: https://dl.example/prod/win32-x64/latest.json",
                "Installer URL: https://cdn.example/Setup-1.2.exe",
                "Attempt 1: from byte 0, HTTP 200, BodyRead (libcurl 56), 1000000 bytes, 12.3 s",
                "Attempt 2: from byte 1000000, Transport (libcurl 28), 0 bytes, 30.0 s",
                "Attempt 3: from byte 1000000, HTTP 206, RangeMismatch, 0 bytes, 0.0 s",
                "Attempt 4: from byte 1000000, HTTP 503, HttpStatus, 0 bytes, 1.0 s",
                "Attempt 5: from byte 1000000, HTTP 200, DiskFull (code 112), 52 bytes, 0.0 s",
                "Signature: other publisher, signer Someone Else Ltd, code 0x800B0109",
                "Installer exit code: not run",
                "Application: not looked for",
            }));
}

// The lines that differ between runs that got to different places: every line from "Last run"
// on, or the last lines when the run got that far.
TEST(SupportSummaryTest, RunsThatEndedAtEachStepAndNoRunYet) {
  RunRecord success;
  success.manifest_url = "https://dl.example/latest.json";
  success.installer_url = "https://dl.example/Setup.exe";
  success.attempts = {{0, 200, std::nullopt, 2048, 1.5}};
  success.signature = platform::SignatureVerdict{platform::SignatureVerdict::Outcome::kTrusted, "Ombrel Software", 0};
  success.installer_exit_code = 0;
  success.app_searched = true;
  success.app_path = "C:\\Users\\a\\AppData\\Local\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe";

  RunRecord manifest_failed;
  manifest_failed.manifest_url = "https://dl.example/latest.json#x";
  manifest_failed.failure = error(FailureReason::kManifestHttpStatus, 404);

  RunRecord bad_json = manifest_failed;
  bad_json.failure = error(FailureReason::kManifestBadJson, 0, "expected value at line 1 column 1");

  RunRecord untrusted = success;
  untrusted.signature->outcome = platform::SignatureVerdict::Outcome::kRejected;
  untrusted.signature->signer.clear();
  untrusted.signature->system_code = 0x800B0100;
  untrusted.installer_exit_code.reset();
  untrusted.app_searched = false;
  untrusted.failure = error(FailureReason::kSignature, 0x800B0100);

  // A verdict of our own chain walk: the system's code says nothing, the outcome says why.
  RunRecord expired = untrusted;
  expired.signature->outcome = platform::SignatureVerdict::Outcome::kNotTimeValid;
  expired.signature->signer = "Ombrel Software";
  expired.signature->system_code = 0;
  expired.failure = error(FailureReason::kSignature, 0);

  RunRecord exit_3 = success;
  exit_3.installer_exit_code = 3;
  exit_3.app_searched = false;
  exit_3.failure = error(FailureReason::kInstallerExit, 3);

  RunRecord blocked = exit_3;
  blocked.installer_exit_code.reset();
  blocked.failure = error(FailureReason::kInstallerBlocked, 225);

  RunRecord not_found = success;
  not_found.app_path.clear();

  // A clock years behind: the helpdesk reads the date it says.
  RunRecord clock_behind = manifest_failed;
  clock_behind.failure = error(FailureReason::kTransport, 60);
  clock_behind.failure->tls_refusal.emplace() =
      TlsRefusal{CertificateCheck::kNotYetValid, CertificateName{"dl.example"},  CertificateName{"Example Root"},
                 UtcTime{"2040-01-01 00:00:00"}, UtcTime{"2040-02-01 00:00:00"}, UtcTime{"2026-12-09 23:59:59"}};

  const struct {
    const char* name;
    const RunRecord* run;
    bool in_progress;
    std::vector<std::string> tail;  // the lines from the fifth on
  } cases[] = {
      {"success",
       &success,
       false,
       {"Last run: completed", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: trusted, signer Ombrel Software, code 0x00000000", "Installer exit code: 0",
        "Application: found at " + success.app_path}},
      {"success, retry going",
       &success,
       true,
       {"Current run: in progress", "Last run: completed", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: trusted, signer Ombrel Software, code 0x00000000", "Installer exit code: 0",
        "Application: found at " + success.app_path}},
      {"manifest 404",
       &manifest_failed,
       false,
       {"Last run: failed, ManifestHttpStatus (HTTP 404)", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: none", "Download: not started", "Signature: not checked", "Installer exit code: not run",
        "Application: not looked for"}},
      {"bad json",
       &bad_json,
       false,
       {"Last run: failed, ManifestBadJson: expected value at line 1 column 1",
        "Manifest URL: https://dl.example/latest.json", "Installer URL: none", "Download: not started",
        "Signature: not checked", "Installer exit code: not run", "Application: not looked for"}},
      {"untrusted",
       &untrusted,
       false,
       {"Last run: failed, Signature (code 0x800B0100)", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: rejected, code 0x800B0100", "Installer exit code: not run", "Application: not looked for"}},
      {"signer not time valid",
       &expired,
       false,
       {"Last run: failed, Signature (code 0x00000000)", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: not time valid, signer Ombrel Software, code 0x00000000", "Installer exit code: not run",
        "Application: not looked for"}},
      {"exit 3",
       &exit_3,
       false,
       {"Last run: failed, InstallerExit (code 3)", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: trusted, signer Ombrel Software, code 0x00000000", "Installer exit code: 3",
        "Application: not looked for"}},
      {"start blocked as infected",
       &blocked,
       false,
       // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one line, too long for one literal
       {"Last run: failed, InstallerBlocked (code 225): removed or blocked by another program, typically security "
        "software",
        "Manifest URL: https://dl.example/latest.json", "Installer URL: https://dl.example/Setup.exe",
        "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: trusted, signer Ombrel Software, code 0x00000000", "Installer exit code: not run",
        "Application: not looked for"}},
      {"app not found",
       &not_found,
       false,
       {"Last run: completed", "Manifest URL: https://dl.example/latest.json",
        "Installer URL: https://dl.example/Setup.exe", "Attempt 1: from byte 0, HTTP 200, 2048 bytes, 1.5 s",
        "Signature: trusted, signer Ombrel Software, code 0x00000000", "Installer exit code: 0",
        "Application: not found"}},
      {"certificate not yet valid",
       &clock_behind,
       false,
       {"Last run: failed, Transport (libcurl 60)",
        "TLS: certificate valid from 2040-01-01; this machine's clock says 2026-12-09 (check the date and time)",
        "Manifest URL: https://dl.example/latest.json", "Installer URL: none", "Download: not started",
        "Signature: not checked", "Installer exit code: not run", "Application: not looked for"}},
      {"first run going", nullptr, true, {"Current run: in progress", "Last run: none finished"}},
  };
  for (const auto& test : cases) {
    const std::vector<std::string> lines = lines_of(format_support_summary(kSystem, test.run, test.in_progress));
    ASSERT_GE(lines.size(), 4u) << test.name;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), test.tail) << test.name;
  }
}

// Texts from outside (the manifest's URL, the signer's name, a fault's text, a registry path)
// can neither forge a line nor turn its reading direction, name the user, or run on for pages.
TEST(SupportSummaryTest, OutsideTextsCannotForgeLinesNameTheUserOrRunLong) {
  SystemFacts system = kSystem;
  system.profile_folders = {{"%LOCALAPPDATA%", "C:\\Users\\ann\\AppData\\Local"}, {"%USERPROFILE%", "C:\\Users\\ann"}};
  RunRecord run;
  run.manifest_url = "https://h/" + std::string(10'000, 'a') + ".json";
  run.installer_url =
      "https://h/Setup\r\nSignature: trusted\xE2\x80\xAE"
      "exe.txt";
  run.attempts = {{0, 200, std::nullopt, 10, 0.1}};
  run.signature = platform::SignatureVerdict{platform::SignatureVerdict::Outcome::kOtherPublisher,
                                             std::string("Evil\r\nSignature: trusted") + '\0' + "x", 0x800B0109};
  run.failure = error(FailureReason::kUnexpectedFault, 0, "bad\nline");
  run.app_searched = true;
  run.app_path = "c:\\users\\ANN\\AppData\\Local\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe";

  const std::vector<std::string> lines = lines_of(format_support_summary(system, &run, false));
  ASSERT_EQ(lines.size(), 11u);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 120u) << line;
  EXPECT_EQ(lines[4], "Last run: failed, UnexpectedFault: bad\\nline");
  EXPECT_EQ(lines[5], "Manifest URL: https://h/" + std::string(120 - 24 - 3, 'a') + "...");
  EXPECT_EQ(lines[6], "Installer URL: https://h/Setup\\r\\nSignature: trusted\\u{202e}exe.txt");
  EXPECT_EQ(lines[8], "Signature: other publisher, signer Evil\\r\\nSignature: trusted\\0x, code 0x800B0109");
  EXPECT_EQ(lines[10], "Application: found at %LOCALAPPDATA%\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe");
}

// A certificate refused on a real connection (OpenSSL natively, Schannel under Wine) reaches
// the summary as the helpdesk's line.
TEST(SupportSummaryTest, ACertificateRefusedByTheClientGetsItsTlsLine) {
  OMBREL_START_TEST_HOST(host, "main", "unknownca");
  RunRecord run;
  run.manifest_url = host->url("/prod/win32-x64/latest.json", "unknownca");
  const auto refused = http_get(HttpRequest{run.manifest_url, {}});
  ASSERT_FALSE(refused);
  run.failure = refused.error();
  const std::vector<std::string> lines = lines_of(format_support_summary(kSystem, &run, false));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[4], "Last run: failed, Transport (libcurl 60)");
  EXPECT_EQ(
      lines[5],
      "TLS: localhost issued by \"Untrusted Te...\", not a built-in root (a proxy or security product may inspect "
      "HTTPS)");
}

}  // namespace
}  // namespace ombrel
