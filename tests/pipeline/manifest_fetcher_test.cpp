// fetch_manifest against the real test host (tools/testhost): what it asks for, what it makes of
// the answers, and the user's text (English table) for each failure; then the same for bodies
// handed over directly.
#include "pipeline/manifest_fetcher.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_host.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

using namespace std::chrono_literals;

constexpr const char* kManifestPath = "/dist/prod/win32-x64/latest.json";
const std::string kNetworkText = "Unable to connect. Please check your internet connection and try again.";

class ManifestFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  static ManifestFetchConfig config_for(const test::TestHost& host, std::string_view base_path = "/dist/") {
    ManifestFetchConfig config;
    config.base_url = host.url(base_path);
    config.arch_tag = "x64";
    config.read_timeout = 3s;
    return config;
  }

  // The installer URL, or "error <reason>: <text>".
  static std::string outcome(const ManifestFetchConfig& config) {
    RunRecord record;
    const auto result = fetch_manifest(config, record);
    EXPECT_EQ(record.manifest_url, config.base_url + "prod/win32-x64/latest.json");
    if (result) return *result;
    return "error " + std::string(failure_reason_name(result.error().reason)) + ": " + describe_failure(result.error());
  }
};

TEST_F(ManifestFetch, ResolvesTheChosenMemberAgainstTheManifestUrl) {
  OMBREL_START_TEST_HOST(host, "main");
  host->write_file(kManifestPath, R"({"latestInstallFile":null,"rolloutInstallFile":"setup-2.exe","extra":[1,{}]})");
  EXPECT_EQ(outcome(config_for(*host)), host->url("/dist/prod/win32-x64/setup-2.exe"));

  const auto log = host->requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].path, kManifestPath);
  EXPECT_EQ(log[0].header("user-agent"), "OmbrelLoomworkInstaller/1.0");
  EXPECT_EQ(log[0].header("accept-encoding"), "gzip");
  EXPECT_FALSE(log[0].header("range"));
}

TEST_F(ManifestFetch, StatusCodesAndTransportFailures) {
  OMBREL_START_TEST_HOST(host, "main", "unknownca");
  // No file at all: the host answers 404 like nginx.
  EXPECT_EQ(outcome(config_for(*host)), "error ManifestHttpStatus: Manifest fetch failed (HTTP 404)");

  host->write_file(kManifestPath, R"({"latestInstallFile":"a.exe"})");
  host->set_rules(R"([{"path": "/dist/prod/win32-x64/latest.json", "first": 1, "status": 503}])");
  EXPECT_EQ(outcome(config_for(*host)), "error ManifestHttpStatus: Manifest fetch failed (HTTP 503)");
  EXPECT_EQ(outcome(config_for(*host)), host->url("/dist/prod/win32-x64/a.exe"));  // once only

  ManifestFetchConfig untrusted = config_for(*host);
  untrusted.base_url = host->url("/dist/", "unknownca");
  EXPECT_EQ(outcome(untrusted), "error Transport: " + kNetworkText);

  ManifestFetchConfig nobody_listens = config_for(*host);
  nobody_listens.base_url = "https://localhost:1/";
  EXPECT_EQ(outcome(nobody_listens), "error Transport: " + kNetworkText);
}

TEST_F(ManifestFetch, BrokenAndStalledBodiesAreNetworkErrors) {
  OMBREL_START_TEST_HOST(host, "main");
  host->write_file(kManifestPath, R"({"latestInstallFile":")" + std::string(5000, 'a') + R"("})");
  host->set_rules(R"([{"path": "/dist/prod/win32-x64/latest.json", "gzip": false, "drop_after": 100}])");
  EXPECT_EQ(outcome(config_for(*host)), "error BodyRead: " + kNetworkText);

  host->set_rules(R"([{"path": "/dist/prod/win32-x64/latest.json", "gzip": false, "stall_after": 100}])");
  ManifestFetchConfig impatient = config_for(*host);
  impatient.read_timeout = 500ms;
  EXPECT_EQ(outcome(impatient), "error BodyRead: " + kNetworkText);
}

TEST_F(ManifestFetch, BodyLimitCountsDecodedBytes) {
  OMBREL_START_TEST_HOST(host, "main");
  const std::string manifest = R"({"latestInstallFile":"a.exe"})";
  // Gzip-encoded (a .json file), so the few kilobytes on the wire decode to the limit exactly.
  host->write_file(kManifestPath, manifest + std::string(kManifestBodyLimit - manifest.size(), ' '));
  EXPECT_EQ(outcome(config_for(*host)), host->url("/dist/prod/win32-x64/a.exe"));

  host->write_file(kManifestPath, manifest + std::string(kManifestBodyLimit + 1 - manifest.size(), ' '));
  EXPECT_EQ(outcome(config_for(*host)), "error BodyTooLong: " + kNetworkText);

  host->set_rules(R"([{"path": "/dist/prod/win32-x64/latest.json", "gzip": false}])");
  EXPECT_EQ(outcome(config_for(*host)), "error BodyTooLong: " + kNetworkText);
}

TEST_F(ManifestFetch, FollowsRedirectsButResolvesAgainstTheRequestedUrl) {
  OMBREL_START_TEST_HOST(host, "main");
  host->write_file("/prod/win32-x64/latest.json", R"({"baseInstallFile":"setup.exe"})");
  // Two redirects are followed; relative values stay relative to the address asked for.
  EXPECT_EQ(outcome(config_for(*host, "/__redirect/2/")), host->url("/__redirect/2/prod/win32-x64/setup.exe"));
  EXPECT_EQ(outcome(config_for(*host, "/__redirect/6/")), "error Transport: " + kNetworkText);
}

constexpr const char* kManifestUrl = "https://downloads.example.com/prod/win32-x64/latest.json";

// The step after the bytes have arrived, and the user's text for every way it fails.
class ManifestFailureText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  // "<reason>: <text>" the step would fail with for this body, or the installer URL it would give.
  static std::string outcome(std::string_view body) {
    const auto url = installer_url_from_body(body, kManifestUrl);
    if (url) return "url " + *url;
    return std::string(failure_reason_name(url.error().reason)) + ": " + describe_failure(url.error());
  }
};

TEST_F(ManifestFailureText, BodiesGiveTheStepsAnswer) {
  EXPECT_EQ(outcome(""), "ManifestBadJson: Invalid manifest JSON: EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(outcome("\xEF\xBB\xBF{\"latestInstallFile\":\"a.exe\"}"),
            "ManifestBadJson: Invalid manifest JSON: expected value at line 1 column 1");
  EXPECT_EQ(outcome(R"({"latestInstallFile":"https://x/a.exe","rolloutInstallFile":5})"),
            "ManifestBadJson: Invalid manifest JSON: invalid type: integer `5`, expected a string at line 1 column 61");
  EXPECT_EQ(outcome(R"({"latestInstallFile":"","baseInstallFile":"b.exe"})"),
            "ManifestMissingField: Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome(R"({"latestInstallFile":null,"rolloutInstallFile":null})"),
            "ManifestMissingField: Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome("{}"), "ManifestMissingField: Manifest missing baseInstallFile field");
  EXPECT_EQ(outcome(R"({"latestInstallFile":null,"baseInstallFile":"b.exe"})"),
            "url https://downloads.example.com/prod/win32-x64/b.exe");
  EXPECT_EQ(outcome(R"(["/x/a.exe",null,null])"), "url https://downloads.example.com/x/a.exe");
  // Invalid UTF-8 is replaced, never rejected; the column counts the replacement's bytes.
  EXPECT_EQ(outcome("{\"baseInstallFile\":\"a\xFF.exe\"}"),
            "url https://downloads.example.com/prod/win32-x64/a\xEF\xBF\xBD.exe");
  EXPECT_EQ(outcome("{\"x\":\"\xFF\" 1}"),
            "ManifestBadJson: Invalid manifest JSON: expected `,` or `}` at line 1 column 12");
}

}  // namespace
}  // namespace ombrel
