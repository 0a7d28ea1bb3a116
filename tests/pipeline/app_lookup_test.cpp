// The installed-application lookup over an in-memory registry, scripted known folders and a
// set of existing files: search order, DisplayName matching, candidate forming, skipping, and
// that every key it opens is closed again.
#include "pipeline/app_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/memory_registry.h"
#include "tests/support/test_child.h"

namespace ombrel {
namespace {

using Tree = test::MemoryRegistry::Tree;

const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kLocalAppData = "C:\\Users\\u\\AppData\\Local";
const std::string kProgramFiles = "C:\\Program Files (x86)";

class AppLookupTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(registry_.open_key_count(), 0u) << "every opened key must be closed";
    EXPECT_EQ(registry_.bad_closes(), 0u);
  }

  // An Uninstall entry; `location` absent leaves InstallLocation out.
  void add_entry(Tree tree, const std::string& subkey, const std::string& display_name,
                 std::optional<std::string> location, std::uint32_t location_type = platform::kRegSz) {
    const std::string path = kUninstall + "\\" + subkey;
    registry_.set_text(tree, path, "DisplayName", platform::kRegSz, display_name);
    if (location) registry_.set_text(tree, path, "InstallLocation", location_type, *location);
  }

  std::optional<std::string> find() {
    AppLookupSources sources{
        registry_,
        [this](platform::KnownFolder folder) -> std::optional<std::string> {
          const auto it = folders_.find(folder);
          if (it == folders_.end()) return std::nullopt;
          return it->second;
        },
        [this](const std::string& path) {
          probes_.push_back(path);
          return files_.count(path) > 0;
        },
    };
    return find_installed_app(sources);
  }

  test::MemoryRegistry registry_;
  std::map<platform::KnownFolder, std::string> folders_;
  std::set<std::string> files_;
  std::vector<std::string> probes_;
};

TEST_F(AppLookupTest, SearchesUserThenMachine64Then32ThenLocalProgramsThenProgramFiles) {
  folders_ = {{platform::KnownFolder::kLocalAppData, kLocalAppData},
              {platform::KnownFolder::kProgramFiles, kProgramFiles}};
  add_entry(Tree::kCurrentUser, "OmbrelLoomwork", "Ombrel Loomwork", "C:\\User");
  add_entry(Tree::kMachine64, "OmbrelLoomwork", "Ombrel Loomwork", "C:\\Machine64");
  add_entry(Tree::kMachine32, "OmbrelLoomwork", "Ombrel Loomwork", "C:\\Machine32");
  const std::vector<std::string> in_order = {
      "C:\\User\\Ombrel Loomwork.exe",
      "C:\\Machine64\\Ombrel Loomwork.exe",
      "C:\\Machine32\\Ombrel Loomwork.exe",
      "C:\\Users\\u\\AppData\\Local\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe",
      "C:\\Program Files (x86)\\Ombrel Loomwork\\Ombrel Loomwork.exe",
  };
  // With every candidate present the earliest wins; removing it uncovers the next.
  files_.insert(in_order.begin(), in_order.end());
  for (const std::string& expected : in_order) {
    probes_.clear();
    EXPECT_EQ(find(), expected);
    EXPECT_EQ(probes_.back(), expected);
    files_.erase(expected);
  }
  probes_.clear();
  EXPECT_EQ(find(), std::nullopt);
  EXPECT_EQ(probes_, in_order) << "each place is probed exactly once, in order";
}

TEST_F(AppLookupTest, OpensEveryKeyReadOnlyWithItsPlacesView) {
  add_entry(Tree::kCurrentUser, "A", "Ombrel Loomwork", "C:\\A");
  add_entry(Tree::kMachine64, "B", "Ombrel Loomwork", "C:\\B");
  add_entry(Tree::kMachine32, "C", "Ombrel Loomwork", "C:\\C");
  EXPECT_EQ(find(), std::nullopt);
  const std::vector<std::tuple<Tree, std::string, std::uint32_t>> expected = {
      {Tree::kCurrentUser, kUninstall, 0x20019u}, {Tree::kCurrentUser, kUninstall + "\\A", 0x20019u},
      {Tree::kMachine64, kUninstall, 0x20119u},   {Tree::kMachine64, kUninstall + "\\B", 0x20119u},
      {Tree::kMachine32, kUninstall, 0x20219u},   {Tree::kMachine32, kUninstall + "\\C", 0x20219u},
  };
  std::vector<std::tuple<Tree, std::string, std::uint32_t>> opened;
  for (const auto& call : registry_.opens()) opened.emplace_back(call.tree, call.path, call.access);
  EXPECT_EQ(opened, expected);
}

struct NameCase {
  const char* display_name;
  bool matches;
};

class DisplayNameTest : public AppLookupTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DisplayNameTest, MatchesWholeNameIgnoringOnlyAsciiCase) {
  add_entry(Tree::kCurrentUser, "Entry", GetParam().display_name, "C:\\App");
  files_.insert("C:\\App\\Ombrel Loomwork.exe");
  EXPECT_EQ(find().has_value(), GetParam().matches) << GetParam().display_name;
  EXPECT_EQ(is_product_display_name(GetParam().display_name), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Names, DisplayNameTest,
                         ::testing::Values(NameCase{"Ombrel Loomwork", true}, NameCase{"ombrel loomwork", true},
                                           NameCase{"OMBREL LOOMWORK", true}, NameCase{"oMBREL lOOMWORK", true},
                                           NameCase{"Ombrel Loomwork ", false}, NameCase{" Ombrel Loomwork", false},
                                           NameCase{"Ombrel Loomwork Beta", false}, NameCase{"Ombrel", false},
                                           NameCase{"Ombrel  Loomwork", false}, NameCase{"OmbrelLoomwork", false},
                                           NameCase{"", false},
                                           // Only A-Z fold: a fullwidth or Turkish capital is another character.
                                           NameCase{"\xEF\xBC\xAF"
                                                    "mbrel Loomwork",
                                                    false},
                                           NameCase{"Ombrel Loomwork\xC4\xB0", false},
                                           NameCase{"Ombrel Loomw\xC3\xB6rk", false}));

struct CandidateCase {
  const char* location;
  const char* candidate;
};

class CandidateTest : public AppLookupTest, public ::testing::WithParamInterface<CandidateCase> {};

TEST_P(CandidateTest, AppendsTheFileNameWithOneSeparator) {
  add_entry(Tree::kCurrentUser, "Entry", "Ombrel Loomwork", GetParam().location);
  files_.insert(GetParam().candidate);
  EXPECT_EQ(find(), GetParam().candidate);
  EXPECT_EQ(probes_, std::vector<std::string>{GetParam().candidate});
}

INSTANTIATE_TEST_SUITE_P(Locations, CandidateTest,
                         ::testing::Values(CandidateCase{"C:\\Apps\\OL", "C:\\Apps\\OL\\Ombrel Loomwork.exe"},
                                           CandidateCase{"C:\\Apps\\OL\\", "C:\\Apps\\OL\\Ombrel Loomwork.exe"},
                                           CandidateCase{"C:/Apps/OL/", "C:/Apps/OL/Ombrel Loomwork.exe"},
                                           CandidateCase{"C:/Apps/OL", "C:/Apps/OL\\Ombrel Loomwork.exe"},
                                           // Empty: the root of the current drive.
                                           CandidateCase{"", "\\Ombrel Loomwork.exe"},
                                           // Quotes are part of the text, so this candidate never names a real file.
                                           CandidateCase{"\"C:\\Apps\\OL\"", "\"C:\\Apps\\OL\"\\Ombrel Loomwork.exe"},
                                           CandidateCase{"C:\\Apps\\OL ", "C:\\Apps\\OL \\Ombrel Loomwork.exe"}));

TEST_F(AppLookupTest, QuotedLocationLeadsToNoFile) {
  add_entry(Tree::kCurrentUser, "Entry", "Ombrel Loomwork", "\"C:\\Apps\\OL\"");
  files_.insert("C:\\Apps\\OL\\Ombrel Loomwork.exe");
  EXPECT_EQ(find(), std::nullopt);
}

TEST_F(AppLookupTest, ExpandSzLocationIsExpandedButTheSameTextAsSzIsLiteral) {
  registry_.set_env("LOCALAPPDATA", kLocalAppData);
  files_.insert(kLocalAppData + "\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe");
  add_entry(Tree::kCurrentUser, "Literal", "Ombrel Loomwork", "%LOCALAPPDATA%\\Programs\\Ombrel Loomwork",
            platform::kRegSz);
  add_entry(Tree::kCurrentUser, "Expanded", "Ombrel Loomwork", "%LOCALAPPDATA%\\Programs\\Ombrel Loomwork",
            platform::kRegExpandSz);
  EXPECT_EQ(find(), kLocalAppData + "\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe");
  EXPECT_EQ(probes_, (std::vector<std::string>{
                         "%LOCALAPPDATA%\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe",
                         kLocalAppData + "\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe",
                     }));
}

TEST_F(AppLookupTest, UnsuitableEntriesAreSkippedAndTheSearchGoesOn) {
  const std::string base = kUninstall + "\\";
  // Values of the wrong kind, empty or missing: none of these ends the search.
  registry_.set_raw(Tree::kCurrentUser, base + "Dword", "DisplayName", platform::kRegDword, {1, 0, 0, 0});
  registry_.set_text(Tree::kCurrentUser, base + "Multi", "DisplayName", platform::kRegMultiSz,
                     std::string_view("Ombrel Loomwork"), 2);
  registry_.set_text(Tree::kCurrentUser, base + "Binary", "DisplayName", platform::kRegBinary,
                     std::string_view("Ombrel Loomwork"));
  registry_.set_text(Tree::kCurrentUser, base + "Empty", "DisplayName", platform::kRegSz, std::string_view(""));
  registry_.set_raw(Tree::kCurrentUser, base + "ZeroSize", "DisplayName", platform::kRegSz, {});
  registry_.create_key(Tree::kCurrentUser, base + "NoValues");
  add_entry(Tree::kCurrentUser, "NoLocation", "Ombrel Loomwork", std::nullopt);
  add_entry(Tree::kCurrentUser, "LocationDword", "Ombrel Loomwork", std::nullopt);
  registry_.set_raw(Tree::kCurrentUser, base + "LocationDword", "InstallLocation", platform::kRegDword, {1, 0, 0, 0});
  add_entry(Tree::kCurrentUser, "Unopenable", "Ombrel Loomwork", "C:\\Denied");
  registry_.fail_open(Tree::kCurrentUser, base + "Unopenable", platform::kRegAccessDenied);
  add_entry(Tree::kCurrentUser, "NoFile", "Ombrel Loomwork", "C:\\Gone");
  // Each entry above also has this location, so only its skipping rule can keep it from winning.
  for (const char* name : {"Dword", "Multi", "Binary", "Empty", "ZeroSize", "NoValues"}) {
    registry_.set_text(Tree::kCurrentUser, base + name, "InstallLocation", platform::kRegSz,
                       std::string_view("C:\\Wrong"));
  }
  files_.insert("C:\\Wrong\\Ombrel Loomwork.exe");
  files_.insert("C:\\Denied\\Ombrel Loomwork.exe");
  add_entry(Tree::kCurrentUser, "Good", "Ombrel Loomwork", "C:\\Good");
  files_.insert("C:\\Good\\Ombrel Loomwork.exe");

  EXPECT_EQ(find(), "C:\\Good\\Ombrel Loomwork.exe");
  EXPECT_EQ(probes_, (std::vector<std::string>{"C:\\Gone\\Ombrel Loomwork.exe", "C:\\Good\\Ombrel Loomwork.exe"}));
}

TEST_F(AppLookupTest, EntryWithOverlongNameIsSkipped) {
  add_entry(Tree::kCurrentUser, std::string(256, 'x'), "Ombrel Loomwork", "C:\\Long");
  add_entry(Tree::kCurrentUser, std::string(255, 'y'), "Ombrel Loomwork", "C:\\Longest");
  files_ = {"C:\\Long\\Ombrel Loomwork.exe", "C:\\Longest\\Ombrel Loomwork.exe"};
  EXPECT_EQ(find(), "C:\\Longest\\Ombrel Loomwork.exe") << "255 units fit the buffer, 256 do not";
}

TEST_F(AppLookupTest, MissingUninstallKeysMoveOnToTheNextPlace) {
  registry_.fail_open(Tree::kMachine64, kUninstall, platform::kRegAccessDenied);
  add_entry(Tree::kMachine32, "Entry", "Ombrel Loomwork", "C:\\App32");
  files_.insert("C:\\App32\\Ombrel Loomwork.exe");
  EXPECT_EQ(find(), "C:\\App32\\Ombrel Loomwork.exe");
}

TEST_F(AppLookupTest, KeyWhoseEveryEnumerationFailsIsAbandonedAfterABoundedRun) {
  registry_.create_key(Tree::kCurrentUser, kUninstall);
  registry_.fail_every_enum(Tree::kCurrentUser, kUninstall, 1011);  // ERROR_CANTREAD
  add_entry(Tree::kMachine64, "Entry", "Ombrel Loomwork", "C:\\App");
  files_.insert("C:\\App\\Ombrel Loomwork.exe");
  EXPECT_EQ(find(), "C:\\App\\Ombrel Loomwork.exe");
  EXPECT_EQ(registry_.enum_calls(), kMaxConsecutiveEnumFailures + 1) << "the bound, then the machine key's first";
}

TEST_F(AppLookupTest, KnownFolderPartsGetOneSeparatorEachAndAbsentFoldersAreSkipped) {
  folders_ = {{platform::KnownFolder::kLocalAppData, "C:\\Users\\u\\AppData\\Local\\"}};
  EXPECT_EQ(find(), std::nullopt);
  EXPECT_EQ(probes_,
            std::vector<std::string>{"C:\\Users\\u\\AppData\\Local\\Programs\\Ombrel Loomwork\\Ombrel Loomwork.exe"});

  probes_.clear();
  folders_ = {{platform::KnownFolder::kProgramFiles, "D:/Programs/"}};
  files_.insert("D:/Programs/Ombrel Loomwork\\Ombrel Loomwork.exe");
  EXPECT_EQ(find(), "D:/Programs/Ombrel Loomwork\\Ombrel Loomwork.exe");
  EXPECT_EQ(probes_.size(), 1u);
}

// The real file probe of this system: a directory of the executable's name is no hit.
TEST(AppLookupFilesTest, ADirectoryNamedLikeTheExecutableIsNotAnApp) {
  test::TempFolder folder("ombrel-app-lookup");
  test::MemoryRegistry registry;
  const std::string location = test::native_utf8(folder.path()) + "/";
  registry.set_text(Tree::kCurrentUser, kUninstall + "\\Entry", "DisplayName", platform::kRegSz,
                    std::string_view("Ombrel Loomwork"));
  registry.set_text(Tree::kCurrentUser, kUninstall + "\\Entry", "InstallLocation", platform::kRegSz,
                    std::string_view(location));
  AppLookupSources sources = system_app_lookup_sources();
  AppLookupSources lookup{registry, [](platform::KnownFolder) { return std::optional<std::string>(); },
                          sources.is_file};

  std::filesystem::create_directory(folder.path() / "Ombrel Loomwork.exe");
  EXPECT_EQ(find_installed_app(lookup), std::nullopt);

  std::filesystem::remove(folder.path() / "Ombrel Loomwork.exe");
  std::ofstream(folder.path() / "Ombrel Loomwork.exe") << "MZ";
  EXPECT_EQ(find_installed_app(lookup), location + "Ombrel Loomwork.exe");
}

}  // namespace
}  // namespace ombrel
