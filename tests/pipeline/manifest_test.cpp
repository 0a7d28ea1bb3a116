// The choice of installer member and the joining of its value to the manifest URL.
#include "pipeline/manifest.h"

#include <gtest/gtest.h>

namespace ombrel {
namespace {

constexpr const char* kManifestUrl = "https://downloads.example.com/prod/win32-x64/latest.json";

TEST(ManifestUrl, AppendsChannelArchitectureAndFileName) {
  EXPECT_EQ(manifest_url("https://downloads.example.com/loomwork/", "x64"),
            "https://downloads.example.com/loomwork/prod/win32-x64/latest.json");
  EXPECT_EQ(manifest_url("https://localhost:8443/", "arm64"), "https://localhost:8443/prod/win32-arm64/latest.json");
}

struct ChoiceCase {
  const char* name;
  const char* manifest;
  std::optional<std::string> chosen;
};

class InstallerChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(InstallerChoice, FirstPresentMemberByRank) {
  const auto manifest = parse_manifest(GetParam().manifest);
  ASSERT_TRUE(manifest.has_value()) << manifest.error().to_string();
  EXPECT_EQ(choose_installer(*manifest), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Members, InstallerChoice,
    ::testing::Values(
        ChoiceCase{"AllThree", R"({"baseInstallFile":"b","rolloutInstallFile":"r","latestInstallFile":"l"})", "l"},
        ChoiceCase{"NullLatestFallsToBase", R"({"latestInstallFile":null,"baseInstallFile":"b"})", "b"},
        ChoiceCase{"RolloutBeforeBase", R"({"baseInstallFile":"b","rolloutInstallFile":"r"})", "r"},
        ChoiceCase{"EmptyLatestDoesNotFallThrough", R"({"latestInstallFile":"","baseInstallFile":"b"})", std::nullopt},
        ChoiceCase{"EmptyRolloutDoesNotFallThrough", R"({"rolloutInstallFile":"","baseInstallFile":"b"})",
                   std::nullopt},
        ChoiceCase{"EmptyObject", "{}", std::nullopt},
        ChoiceCase{"AllNull", R"({"latestInstallFile":null,"rolloutInstallFile":null,"baseInstallFile":null})",
                   std::nullopt},
        ChoiceCase{"OtherMembersIgnored", R"({"a":[1,{"b":2}],"baseInstallFile":"b","z":true})", "b"},
        ChoiceCase{"ArrayFirstString", R"(["x","y","z"])", "x"},
        ChoiceCase{"ArrayNullsThenString", R"([null,null,"z"])", "z"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ResolveCase {
  const char* name;
  const char* manifest_url;
  const char* value;
  const char* installer_url;
};

class InstallerUrl : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(InstallerUrl, JoinsWithoutNormalising) {
  EXPECT_EQ(resolve_installer_url(GetParam().manifest_url, GetParam().value), GetParam().installer_url);
}

INSTANTIATE_TEST_SUITE_P(
    Values, InstallerUrl,
    ::testing::Values(
        ResolveCase{"Absolute", kManifestUrl, "https://cdn.example.net/a/setup.exe",
                    "https://cdn.example.net/a/setup.exe"},
        ResolveCase{"AbsoluteOtherScheme", kManifestUrl, "ftp://x/y", "ftp://x/y"},
        ResolveCase{"RootedReplacesPath", kManifestUrl, "/files/setup.exe",
                    "https://downloads.example.com/files/setup.exe"},
        ResolveCase{"PlainNameInManifestFolder", kManifestUrl, "setup.exe",
                    "https://downloads.example.com/prod/win32-x64/setup.exe"},
        ResolveCase{"TwoSlashesStayAPath", kManifestUrl, "//evil.example/setup.exe",
                    "https://downloads.example.com//evil.example/setup.exe"},
        ResolveCase{"SchemeMarkerLaterIsAbsolute", kManifestUrl, "setup.exe?from=https://x",
                    "setup.exe?from=https://x"},
        ResolveCase{"DotSegmentsKept", kManifestUrl, "../../other/./setup.exe",
                    "https://downloads.example.com/prod/win32-x64/../../other/./setup.exe"},
        ResolveCase{"BlanksKept", kManifestUrl, "my setup.exe",
                    "https://downloads.example.com/prod/win32-x64/my setup.exe"},
        ResolveCase{"QueryOfManifestDropped", "https://h.example/a/latest.json?v=1/2#f/g", "setup.exe",
                    "https://h.example/a/setup.exe"},
        ResolveCase{"FragmentOfManifestDropped", "https://h.example/a/b#x/y", "c", "https://h.example/a/c"},
        ResolveCase{"HostOnlyManifest", "https://h.example", "setup.exe", "https://h.example/setup.exe"},
        ResolveCase{"HostOnlyManifestRooted", "https://h.example?q=1", "/s.exe", "https://h.example/s.exe"},
        ResolveCase{"PortKept", "https://localhost:8443/prod/latest.json", "s.exe",
                    "https://localhost:8443/prod/s.exe"},
        ResolveCase{"ManifestWithoutScheme", "downloads/latest.json", "setup.exe", "setup.exe"},
        ResolveCase{"SchemeOnlyInQuery", "host/latest.json?u=https://x/y", "setup.exe", "setup.exe"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel
