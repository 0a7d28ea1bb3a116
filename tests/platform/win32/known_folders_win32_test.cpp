// The known folders as Windows (Wine under test) gives them to a 64-bit process.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/known_folders.h"
#include "platform/win32/wide.h"

namespace ombrel {
namespace {

TEST(KnownFoldersWin32Test, NamesTheUsersLocalAppDataAndProgramFiles) {
  const std::optional<std::string> local = platform::known_folder_path(platform::KnownFolder::kLocalAppData);
  const std::optional<std::string> programs = platform::known_folder_path(platform::KnownFolder::kProgramFiles);
  ASSERT_TRUE(local);
  ASSERT_TRUE(programs);
  EXPECT_TRUE(local->ends_with("\\AppData\\Local")) << *local;
  EXPECT_TRUE(programs->ends_with("\\Program Files")) << *programs << " (a 64-bit test process)";
  EXPECT_TRUE(std::filesystem::is_directory(win32::to_wide(*local)));
  EXPECT_TRUE(std::filesystem::is_directory(win32::to_wide(*programs)));
}

}  // namespace
}  // namespace ombrel
