// The publisher check against real Authenticode signatures under Wine: copies of the test child
// program signed and spoiled at test time (tests/support/signed_files.py), checked by the
// platform back end, by the pipeline's check and by the Windows manifest-check.
//
// Wine does not enforce chain trust (a file under an unknown root passes WinVerifyTrust), so the
// rows that expect WinVerifyTrust to pass and our own checks to refuse are this program's
// defence; on Windows the system would already refuse some of them (untrusted root).
#include <windows.h>
#include <gtest/gtest.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/installer_run.h"
#include "pipeline/publisher_check.h"
#include "platform/publisher_signature.h"
#include "platform/win32/trust_rules.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_child.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using Outcome = platform::SignatureVerdict::Outcome;

constexpr std::uint32_t kNoSignature = 0x800B0100;    // TRUST_E_NOSIGNATURE
constexpr std::uint32_t kBadDigest = 0x80096010;      // TRUST_E_BAD_DIGEST
constexpr std::uint32_t kCertSignature = 0x80096004;  // TRUST_E_CERT_SIGNATURE

fs::path signed_files() {
  const char* dir = std::getenv("OMBREL_SIGNED_FILES_DIR");
  return dir ? fs::path(dir) : fs::path();
}

// Built by the same build: <build>/tools/manifest_check/manifest-check.exe, tests in <build>/tests.
fs::path manifest_check() {
  return fs::path(test::test_child_path()).parent_path().parent_path() / "tools" / "manifest_check" /
         "manifest-check.exe";
}

struct ToolRun {
  DWORD status = 0xFFFFFFFF;
  std::string out;
};

// manifest-check --check-installer FILE as a child process, its output captured in a file.
ToolRun run_manifest_check(const fs::path& file, const fs::path& folder) {
  const fs::path out_path = folder / "out.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  ToolRun run;
  if (out == INVALID_HANDLE_VALUE) return run;
  std::wstring command = L"\"" + manifest_check().wstring() + L"\" --check-installer \"" + file.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(out);
  if (!started) return run;
  WaitForSingleObject(info.hProcess, INFINITE);
  GetExitCodeProcess(info.hProcess, &run.status);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::ifstream in(out_path, std::ios::binary);
  run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

struct SignedFileCase {
  const char* file;
  Outcome outcome;
  const char* signer;         // common name read from the signature ("=": the build's publisher)
  const char* tool_signer;    // what manifest-check says instead when no name could be read
  std::uint32_t system_code;  // WinVerifyTrust's result
  const char* check_line;     // what manifest-check says about the build's check
};

class PublisherCheckTest : public ::testing::TestWithParam<SignedFileCase> {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }
};

TEST_P(PublisherCheckTest, VerdictStepAndTool) {
  const SignedFileCase& test = GetParam();
  ASSERT_FALSE(signed_files().empty()) << "OMBREL_SIGNED_FILES_DIR is not set (ctest's signed_files fixture)";
  const fs::path file = signed_files() / test.file;
  ASSERT_TRUE(fs::exists(file)) << file;
  const platform::PublisherPolicy policy = built_in_publisher_policy();
  ASSERT_FALSE(policy.name.empty()) << "a Windows test build checks its test publisher";
  ASSERT_FALSE(policy.pins.empty());
  const std::string path = test::native_utf8(file);
  const std::string signer = std::string(test.signer) == "=" ? std::string(policy.name) : test.signer;

  const Expected<platform::HeldFile, std::uint32_t> held = platform::HeldFile::open(path);
  ASSERT_TRUE(held.has_value()) << held.error();
  const platform::SignatureVerdict verdict = platform::check_publisher_signature(*held, policy);
  EXPECT_EQ(verdict.outcome, test.outcome);
  EXPECT_EQ(verdict.signer, signer);
  EXPECT_EQ(verdict.system_code, test.system_code) << std::hex << verdict.system_code;

  RunRecord record;
  const StepResult<platform::HeldFile> step = check_installer_publisher(path, policy, record);
  ASSERT_TRUE(record.signature);
  EXPECT_EQ(record.signature->outcome, test.outcome);
  if (test.outcome == Outcome::kTrusted) {
    EXPECT_TRUE(step.has_value()) << describe_failure(step.error());
  } else {
    ASSERT_FALSE(step.has_value());
    EXPECT_EQ(step.error(), (PipelineError{FailureReason::kSignature, test.system_code, signer}));
    EXPECT_EQ(describe_failure(step.error()), "The downloaded installer could not be verified. Please try again.");
  }

  test::TempFolder folder("manifest-check-installer");
  const ToolRun tool = run_manifest_check(file, folder.path());
  EXPECT_EQ(tool.status, test.outcome == Outcome::kTrusted ? 0u : 1u);
  EXPECT_EQ(tool.out, "signer: " + (signer.empty() ? std::string(test.tool_signer) : signer) +
                          "\r\ncheck: " + test.check_line + "\r\n");
}

// Under Wine a signature that does not hold names no signer: manifest-check says "unknown".
constexpr const char* kBrokenChain =
    "fails: a certificate of the signer's chain is not signed by its issuer, its issuer is no CA, or a name, "
    "policy or critical extension of the chain does not hold";
constexpr const char* kNotTimeValid = "fails: a certificate of the signer's chain is not valid at the signing time";
constexpr const char* kWrongUsage = "fails: a certificate of the signer's chain is not allowed for code signing";

INSTANTIATE_TEST_SUITE_P(
    SignedFiles, PublisherCheckTest,
    ::testing::Values(SignedFileCase{"good.exe", Outcome::kTrusted, "=", "", 0, "passes"},
                      SignedFileCase{"body-byte.exe", Outcome::kRejected, "", "unknown", kBadDigest,
                                     "fails: the file was changed after it was signed (WinVerifyTrust 0x80096010)"},
                      SignedFileCase{"signature-byte.exe", Outcome::kRejected, "", "unknown", kCertSignature,
                                     "fails: a signature in the file does not verify (WinVerifyTrust 0x80096004)"},
                      SignedFileCase{"unsigned.exe", Outcome::kRejected, "", "none", kNoSignature,
                                     "fails: the file is not signed (WinVerifyTrust 0x800B0100)"},
                      SignedFileCase{"other-name.exe", Outcome::kOtherPublisher, "Ombrel Impostor", "", 0,
                                     "fails: not signed by \"Ombrel T\u00EBst Publisher\""},
                      SignedFileCase{"unpinned-root.exe", Outcome::kUnpinned, "=", "", 0,
                                     "fails: the signer's chain holds none of the build's pinned certificates"},
                      SignedFileCase{"truncated.exe", Outcome::kRejected, "", "none", kNoSignature,
                                     "fails: the file is not signed (WinVerifyTrust 0x800B0100)"},
                      SignedFileCase{"forged-issuer.exe", Outcome::kBrokenChain, "=", "", 0, kBrokenChain},
                      SignedFileCase{"leaf-as-ca.exe", Outcome::kBrokenChain, "=", "", 0, kBrokenChain},
                      // The pin is the root's key: a second certificate of it is as good.
                      SignedFileCase{"reissued-root.exe", Outcome::kTrusted, "=", "", 0, "passes"},
                      // What Windows itself refuses and Wine lets through.
                      SignedFileCase{"expired-signer.exe", Outcome::kNotTimeValid, "=", "", 0, kNotTimeValid},
                      SignedFileCase{"future-signer.exe", Outcome::kNotTimeValid, "=", "", 0, kNotTimeValid},
                      SignedFileCase{"expired-issuer.exe", Outcome::kNotTimeValid, "=", "", 0, kNotTimeValid},
                      SignedFileCase{"server-signer.exe", Outcome::kWrongUsage, "=", "", 0, kWrongUsage},
                      SignedFileCase{"server-issuer.exe", Outcome::kWrongUsage, "=", "", 0, kWrongUsage},
                      SignedFileCase{"no-cert-sign.exe", Outcome::kWrongUsage, "=", "", 0, kWrongUsage},
                      // No extended key usage allows any usage to X.509 and Windows, yet not to
                      // the signer here: a CA under the pin without one could mint a "publisher".
                      SignedFileCase{"no-eku-signer.exe", Outcome::kWrongUsage, "=", "", 0, kWrongUsage},
                      SignedFileCase{"critical-ext-signer.exe", Outcome::kBrokenChain, "=", "", 0, kBrokenChain},
                      SignedFileCase{"name-constrained.exe", Outcome::kBrokenChain, "=", "", 0, kBrokenChain},
                      // A timestamp counts only when it verified under the system's roots or a
                      // pinned key. Wine reports no countersigner for these RFC 3161 timestamps, so
                      // it judges all three at now; a verifier that reads them (osslsigncode, in
                      // the fixture) passes expired-ts-pinned. The decision has its table below.
                      SignedFileCase{"ts-stranger.exe", Outcome::kTrusted, "=", "", 0, "passes"},
                      SignedFileCase{"expired-ts-stranger.exe", Outcome::kNotTimeValid, "=", "", 0, kNotTimeValid},
                      SignedFileCase{"expired-ts-pinned.exe", Outcome::kNotTimeValid, "=", "", 0, kNotTimeValid}),
    [](const ::testing::TestParamInfo<SignedFileCase>& info) {
      std::string name = fs::path(info.param.file).stem().string();
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

// Wine never reports an untrusted root, so when real Windows' CERT_E_UNTRUSTEDROOT may be let
// through (for the pin to decide) is checked on the trust state's values themselves.
struct UntrustedRootCase {
  const char* name;
  std::uint32_t status;
  std::vector<std::pair<std::size_t, std::uint32_t>> step_errors;  // step, error; the rest 0
  std::uint32_t chain_errors;
  bool let_through;
};

TEST(UntrustedRootTest, OnlyAnUntrustedRootOverAVerifiedSignature) {
  constexpr auto kUntrusted = static_cast<std::uint32_t>(CERT_E_UNTRUSTEDROOT);
  const std::vector<UntrustedRootCase> cases = {
      {"root only", kUntrusted, {{TRUSTERROR_STEP_FINAL_POLICYPROV, kUntrusted}}, CERT_TRUST_IS_UNTRUSTED_ROOT, true},
      {"root only, no step error", kUntrusted, {}, CERT_TRUST_IS_UNTRUSTED_ROOT, true},
      {"trusted", 0, {}, 0, false},
      {"expired", static_cast<std::uint32_t>(CERT_E_EXPIRED), {}, CERT_TRUST_IS_NOT_TIME_VALID, false},
      {"digest", kUntrusted, {{TRUSTERROR_STEP_FINAL_OBJPROV, kBadDigest}}, CERT_TRUST_IS_UNTRUSTED_ROOT, false},
      {"signature", kUntrusted, {{TRUSTERROR_STEP_FINAL_SIGPROV, kCertSignature}}, CERT_TRUST_IS_UNTRUSTED_ROOT, false},
      {"other policy error", kUntrusted, {{TRUSTERROR_STEP_FINAL_POLICYPROV, kNoSignature}}, 0, false},
      {"chain also expired", kUntrusted, {}, CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_NOT_TIME_VALID, false},
      {"chain usage", kUntrusted, {}, CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_NOT_VALID_FOR_USAGE, false},
  };
  for (const UntrustedRootCase& test : cases) {
    std::vector<std::uint32_t> steps(TRUSTERROR_MAX_STEPS, 0);
    for (const auto& [step, error] : test.step_errors) steps[step] = error;
    EXPECT_EQ(win32::only_root_untrusted(test.status, steps, test.chain_errors), test.let_through) << test.name;
  }
  EXPECT_FALSE(win32::only_root_untrusted(kUntrusted, {}, CERT_TRUST_IS_UNTRUSTED_ROOT)) << "no step errors to go by";
}

// Wine reports no countersigner for an RFC 3161 timestamp (csCounterSigners 0, sftVerifyAsOf now),
// so when a timestamp holds is checked on the values Windows reports about each countersigner.
TEST(TimestampTest, OnlyAVerifiedTimestampUnderTrustedOrPinnedRootsHolds) {
  constexpr auto kUntrusted = static_cast<std::uint32_t>(CERT_E_UNTRUSTEDROOT);
  constexpr auto kCounterSigner = static_cast<std::uint32_t>(TRUST_E_COUNTER_SIGNER);
  constexpr std::uint32_t kRoot = CERT_TRUST_IS_UNTRUSTED_ROOT;
  struct Case {
    const char* name;
    win32::Countersignature countersignature;  // error, has chain, chain errors, pinned
    bool holds;
  };
  const std::vector<Case> cases = {
      {"trusted by the system", {0, true, 0, false}, true},
      {"under a pinned key", {0, true, kRoot, true}, true},
      {"under a pinned key, the root also its error", {kUntrusted, true, kRoot, true}, true},
      {"under a pinned key the system also trusts", {0, true, 0, true}, true},
      {"under an unknown root", {0, true, kRoot, false}, false},
      {"under an unknown root, the root also its error", {kUntrusted, true, kRoot, false}, false},
      {"its signature does not verify", {kCounterSigner, true, 0, false}, false},
      {"its signature does not verify, pinned", {kCounterSigner, true, kRoot, true}, false},
      {"no chain", {0, false, 0, false}, false},
      {"pinned, the authority expired", {0, true, kRoot | CERT_TRUST_IS_NOT_TIME_VALID, true}, false},
      {"pinned, a forged link", {0, true, kRoot | CERT_TRUST_IS_NOT_SIGNATURE_VALID, true}, false},
      {"trusted, not for time stamping", {0, true, CERT_TRUST_IS_NOT_VALID_FOR_USAGE, false}, false},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(win32::countersignature_holds(test.countersignature), test.holds) << test.name;
  }
}

// Which faults of a chain element break the chain below the pin, whatever its root: Windows
// refuses each, Wine reports some (the critical-ext-signer and name-constrained files) and
// passes the file.
TEST(BrokenChainTest, WhatWindowsRefusesBreaksTheChain) {
  const std::vector<std::pair<std::uint32_t, bool>> cases = {
      {0, false},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, false},          // the pin decides
      {CERT_TRUST_IS_NOT_TIME_VALID, false},          // checked at the signing time instead
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, false},     // checked by the walk's own usage rule
      {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, false},  // revocation is not asked for
      {CERT_TRUST_IS_PARTIAL_CHAIN, false},           // the walk then finds no pin
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, true},
      {CERT_TRUST_IS_CYCLIC, true},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, true},
      {CERT_TRUST_INVALID_NAME_CONSTRAINTS, true},
      {CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT, true},
      {CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT, true},
      {CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT, true},
      {CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT, true},
      {CERT_TRUST_INVALID_POLICY_CONSTRAINTS, true},
      {CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY, true},
      {CERT_TRUST_INVALID_EXTENSION, true},
      {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, true},
      {CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT, true},
  };
  for (const auto& [errors, broken] : cases) {
    EXPECT_EQ(win32::breaks_chain(errors), broken) << std::hex << errors;
  }
}

// The swap of a checked file before its start: while the check's hold lasts, nothing can write,
// replace, rename or delete the file, yet the child starts from it; the hold ends with the child.
TEST(HeldInstallerTest, TheCheckedFileCannotBeSwappedUntilTheChildHasStarted) {
  initialize_translations_for_testing({"en-US"});
  ASSERT_FALSE(signed_files().empty()) << "OMBREL_SIGNED_FILES_DIR is not set (ctest's signed_files fixture)";
  test::TempFolder folder("held-installer");
  const fs::path installer = folder.path() / "OmbrelLoomwork_0123456789abcdef.exe";
  const fs::path other = signed_files() / "unsigned.exe";
  fs::copy_file(signed_files() / "good.exe", installer);
  const fs::path record = folder.path() / "record.txt";
  test::ScopedEnv record_env("OMBREL_TEST_CHILD_RECORD", test::native_utf8(record));

  RunRecord run_record;
  StepResult<platform::HeldFile> held =
      check_installer_publisher(test::native_utf8(installer), built_in_publisher_policy(), run_record);
  ASSERT_TRUE(held.has_value()) << describe_failure(held.error());

  const fs::path moved = folder.path() / "moved.exe";
  struct Attempt {
    const char* what;
    DWORD error;  // the system's answer while the file is held
    std::function<bool()> act;
  };
  constexpr DWORD kShared = ERROR_SHARING_VIOLATION;
  const std::vector<Attempt> swaps = {
      {"copy over it", kShared, [&] { return CopyFileW(other.c_str(), installer.c_str(), FALSE) != 0; }},
      // A rename onto a file that is in use is refused as access denied.
      {"replace it", ERROR_ACCESS_DENIED,
       [&] { return MoveFileExW(other.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; }},
      {"rename it", kShared, [&] { return MoveFileW(installer.c_str(), moved.c_str()) != 0; }},
      {"delete it", kShared, [&] { return DeleteFileW(installer.c_str()) != 0; }},
      {"open it for writing", kShared, [&] {
         HANDLE file =
             CreateFileW(installer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
         if (file == INVALID_HANDLE_VALUE) return false;
         CloseHandle(file);
         return true;
       }}};
  for (const Attempt& swap : swaps) {
    EXPECT_FALSE(swap.act()) << swap.what << " while held";
    EXPECT_EQ(GetLastError(), swap.error) << swap.what;
  }

  test::RecordingReporter reporter;
  const StepResult<Done> ran = run_installer(std::move(held).value(), reporter);
  EXPECT_TRUE(ran.has_value()) << describe_failure(ran.error());
  const std::optional<test::ChildRecord> child = test::read_child_record(record);
  ASSERT_TRUE(child.has_value()) << "the held installer did not start";
  EXPECT_EQ(child->arguments.front(), test::native_utf8(installer));

  // Let go once the installer has ended: the same swap now succeeds.
  EXPECT_TRUE(swaps.front().act()) << GetLastError();
}

struct ScannerHoldCase {
  const char* name;
  std::chrono::milliseconds hold;  // how long another program keeps the file without read sharing
  const char* outcome;
};

class ScannerHoldTest : public ::testing::TestWithParam<ScannerHoldCase> {};

// Security software opens a fresh download without read sharing for a moment: the check waits
// it out and the installer runs once; a hold that outlasts the wait fails with its code, and
// nothing starts.
TEST_P(ScannerHoldTest, TheCheckWaitsOutAHoldWithinItsLimit) {
  const ScannerHoldCase& c = GetParam();
  initialize_translations_for_testing({"en-US"});
  ASSERT_FALSE(signed_files().empty()) << "OMBREL_SIGNED_FILES_DIR is not set (ctest's signed_files fixture)";
  test::TempFolder folder("scanner-hold");
  const fs::path installer = folder.path() / "OmbrelLoomwork_0123456789abcdef.exe";
  fs::copy_file(signed_files() / "good.exe", installer);
  const std::optional<long> holder = test::start_file_holder(installer, c.hold, folder.path() / "holder.txt");
  ASSERT_TRUE(holder.has_value()) << "the holder did not start";
  const fs::path record = folder.path() / "record.txt";
  test::ScopedEnv record_env("OMBREL_TEST_CHILD_RECORD", test::native_utf8(record));

  const auto started = std::chrono::steady_clock::now();
  RunRecord run_record;
  StepResult<platform::HeldFile> held =
      check_installer_publisher(test::native_utf8(installer), built_in_publisher_policy(), run_record);
  test::RecordingReporter reporter;
  const StepResult<Done> ran =
      held ? run_installer(std::move(held).value(), reporter) : unexpected(std::move(held).error());
  const auto waited = std::chrono::steady_clock::now() - started;

  const std::string outcome =
      ran ? "ran" : std::string(failure_reason_name(ran.error().reason)) + " " + std::to_string(ran.error().code);
  EXPECT_EQ(outcome, c.outcome);
  EXPECT_EQ(test::read_child_record(record).has_value(), ran.has_value()) << "one installer run, or none";
  EXPECT_LT(waited, std::chrono::seconds(15)) << "the wait is bounded";
  test::kill_child(*holder);
}

INSTANTIATE_TEST_SUITE_P(Holds, ScannerHoldTest,
                         ::testing::Values(ScannerHoldCase{"two_seconds", std::chrono::seconds(2), "ran"},
                                           ScannerHoldCase{"a_minute", std::chrono::seconds(60), "InstallerHold 32"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel
