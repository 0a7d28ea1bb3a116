// The manifest step after the bytes have arrived, and the user's text for every way it fails
// (English table).
#include <gtest/gtest.h>

#include "pipeline/manifest_fetcher.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

constexpr const char* kManifestUrl = "https://downloads.example.com/prod/win32-x64/latest.json";

class ManifestFailureText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  // The text the step would fail with for this body, or the installer URL it would give.
  static std::string outcome(std::string_view body) {
    const auto url = installer_url_from_body(body, kManifestUrl);
    return url ? "url " + *url : describe_manifest_problem(url.error());
  }
};

TEST_F(ManifestFailureText, EveryProblemHasItsMessage) {
  const std::string network = "Unable to connect. Please check your internet connection and try again.";
  ManifestProblem problem;
  problem.kind = ManifestProblem::Kind::kTransport;
  EXPECT_EQ(describe_manifest_problem(problem), network);
  problem.kind = ManifestProblem::Kind::kBodyRead;
  EXPECT_EQ(describe_manifest_problem(problem), network);
  problem.kind = ManifestProblem::Kind::kHttpStatus;
  problem.status = 404;
  EXPECT_EQ(describe_manifest_problem(problem), "Manifest fetch failed (HTTP 404)");
  problem.status = 503;
  EXPECT_EQ(describe_manifest_problem(problem), "Manifest fetch failed (HTTP 503)");
  problem.kind = ManifestProblem::Kind::kMissingField;
  EXPECT_EQ(describe_manifest_problem(problem), "Manifest missing baseInstallFile field");
}

TEST_F(ManifestFailureText, BodiesGiveTheStepsAnswer) {
  EXPECT_EQ(outcome(""), "Invalid manifest JSON: EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(outcome("\xEF\xBB\xBF{\"latestInstallFile\":\"a.exe\"}"),
            "Invalid manifest JSON: expected value at line 1 column 1");
  EXPECT_EQ(outcome(R"({"latestInstallFile":"https://x/a.exe","rolloutInstallFile":5})"),
            "Invalid manifest JSON: invalid type: integer `5`, expected a string at line 1 column 61");
  EXPECT_EQ(outcome(R"({"latestInstallFile":"","baseInstallFile":"b.exe"})"), "Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome(R"({"latestInstallFile":null,"rolloutInstallFile":null})"), "Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome("{}"), "Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome(R"({"latestInstallFile":null,"baseInstallFile":"b.exe"})"),
            "url https://downloads.example.com/prod/win32-x64/b.exe");
  EXPECT_EQ(outcome(R"(["/x/a.exe",null,null])"), "url https://downloads.example.com/x/a.exe");
  // Invalid UTF-8 is replaced, never rejected; the column counts the replacement's bytes.
  EXPECT_EQ(outcome("{\"baseInstallFile\":\"a\xFF.exe\"}"),
            "url https://downloads.example.com/prod/win32-x64/a\xEF\xBF\xBD.exe");
  EXPECT_EQ(outcome("{\"x\":\"\xFF\" 1}"), "Invalid manifest JSON: expected `,` or `}` at line 1 column 12");
}

}  // namespace
}  // namespace ombrel
