// POSIX-only behaviour of the file operations: where the temporary folder comes from, and
// symbolic links (the Windows build follows reparse points the same way).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.h"
#include "tests/support/temp_folder.h"

namespace ombrel::platform {
namespace {

namespace fs = std::filesystem;

// Sets or clears TMPDIR for one test and restores it afterwards.
class TmpdirOverride {
 public:
  explicit TmpdirOverride(const char* value) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    if (value != nullptr) {
      ::setenv("TMPDIR", value, 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  ~TmpdirOverride() {
    if (saved_) {
      ::setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(TempFolder, ComesFromTmpdirElseTmp) {
  struct Case {
    const char* tmpdir;
    const char* expected;
  };
  for (const Case& c :
       {Case{"/var/cache/x", "/var/cache/x/"}, Case{"/srv/t/", "/srv/t/"}, Case{"", "/tmp/"}, Case{nullptr, "/tmp/"}}) {
    TmpdirOverride tmpdir(c.tmpdir);
    EXPECT_EQ(temp_folder().value(), std::string(c.expected)) << (c.tmpdir ? c.tmpdir : "(unset)");
  }
}

TEST(FileLinks, AreFollowedToTheirTarget) {
  const test::TempFolder temp("ombrel-links");
  const fs::path& folder = temp.path();
  ASSERT_TRUE(write_whole_file((folder / "target").string(), "12345"));
  fs::create_symlink(folder / "target", folder / "link");
  fs::create_symlink(folder / "nowhere", folder / "dangling");
  fs::create_directory_symlink(folder, folder / "folder-link");

  EXPECT_TRUE(is_regular_file((folder / "link").string()));
  EXPECT_EQ(file_size((folder / "link").string()), 5u);
  EXPECT_EQ(read_whole_file((folder / "link").string()).value(), "12345");
  EXPECT_FALSE(is_regular_file((folder / "dangling").string()));
  EXPECT_EQ(file_size((folder / "dangling").string()), std::nullopt);
  EXPECT_FALSE(is_regular_file((folder / "folder-link").string()));

  // Deleting a link removes the link, never its target.
  EXPECT_TRUE(delete_file((folder / "link").string()));
  EXPECT_TRUE(is_regular_file((folder / "target").string()));
}

}  // namespace
}  // namespace ombrel::platform
