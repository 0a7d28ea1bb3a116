// The file operations on real files in a fresh folder, natively and under Wine; on Windows
// these also check the sharing flags the download and the installer clean-up depend on.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/system_codes.h"
#include "tests/support/temp_folder.h"

namespace ombrel::platform {
namespace {

namespace fs = std::filesystem;

// The content read, or the failure's code, in one comparable text.
std::string text_of(const FileResult<std::string>& read) {
  return read ? *read : "<error " + std::to_string(read.error()) + ">";
}
std::string failure(std::uint32_t code) { return "<error " + std::to_string(code) + ">"; }

class FilesTest : public ::testing::Test {
 protected:
  std::string path(std::string_view name) const {
    return test::native_utf8(folder_ / fs::path(std::u8string(name.begin(), name.end())));
  }

  test::TempFolder temp_{"ombrel-files"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(FilesTest, WriteWholeFileCreatesThenTruncates) {
  const std::string file = path("whole.txt");
  ASSERT_TRUE(write_whole_file(file, "first, longer content"));
  EXPECT_EQ(text_of(read_whole_file(file)), "first, longer content");
  ASSERT_TRUE(write_whole_file(file, "2nd"));
  EXPECT_EQ(text_of(read_whole_file(file)), "2nd");
  EXPECT_EQ(file_size(file), 3u);
  ASSERT_TRUE(write_whole_file(file, ""));
  EXPECT_EQ(file_size(file), 0u);
  EXPECT_EQ(text_of(read_whole_file(file)), "");
}

TEST_F(FilesTest, OnlyRegularFilesHaveASize) {
  const std::string file = path("data.bin");
  ASSERT_TRUE(write_whole_file(file, std::string(70000, 'x')));
  EXPECT_EQ(file_size(file), 70000u);
  EXPECT_TRUE(is_regular_file(file));

  EXPECT_EQ(file_size(path("missing")), std::nullopt);
  EXPECT_FALSE(is_regular_file(path("missing")));
  fs::create_directory(folder_ / "sub");
  EXPECT_EQ(file_size(path("sub")), std::nullopt);
  EXPECT_FALSE(is_regular_file(path("sub")));
  EXPECT_FALSE(read_whole_file(path("sub")).has_value());
  EXPECT_EQ(text_of(read_whole_file(path("missing"))), failure(codes::kFileNotFound));
}

TEST_F(FilesTest, ReadWholeFileHonoursTheLimit) {
  const std::string file = path("limit.bin");
  std::string content(40000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  ASSERT_TRUE(write_whole_file(file, content));
  EXPECT_EQ(text_of(read_whole_file(file)), content);  // several read chunks, binary bytes intact
  EXPECT_EQ(text_of(read_whole_file(file, content.size())), content);
  EXPECT_FALSE(read_whole_file(file, content.size() - 1).has_value());
}

TEST_F(FilesTest, DeleteReportsWhetherAFileWasRemoved) {
  const std::string file = path("gone.txt");
  ASSERT_TRUE(write_whole_file(file, "x"));
  EXPECT_TRUE(delete_file(file));
  EXPECT_FALSE(is_regular_file(file));
  const FileResult<Done> again = delete_file(file);
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error(), codes::kFileNotFound);
  EXPECT_TRUE(delete_file_if_present(file));
  fs::create_directory(folder_ / "kept");
  EXPECT_FALSE(delete_file_if_present(path("kept")));
}

// Only the named folder is made: a missing parent is the system's failure, not ours to fix.
TEST_F(FilesTest, CreateFolderMakesOnlyTheLastFolder) {
  EXPECT_TRUE(create_folder(path("made")));
  EXPECT_TRUE(fs::is_directory(folder_ / "made"));
  EXPECT_TRUE(create_folder(path("made"))) << "an existing folder is fine";
  const FileResult<Done> orphan = create_folder(path("no-parent/child"));
  ASSERT_FALSE(orphan.has_value());
  EXPECT_TRUE(orphan.error() == codes::kPathNotFound || orphan.error() == codes::kFileNotFound) << orphan.error();
  ASSERT_TRUE(write_whole_file(path("a-file"), "x"));
  const FileResult<Done> over_file = create_folder(path("a-file"));
  ASSERT_FALSE(over_file.has_value());
  EXPECT_EQ(over_file.error(), codes::kAlreadyExists);
}

TEST_F(FilesTest, NothingIsCreatedInAMissingFolder) {
  const std::string file = path("no-such-folder/file.txt");
  EXPECT_FALSE(write_whole_file(file, "x"));
  EXPECT_FALSE(WritableFile::open(file, WritableFile::Mode::kTruncate).has_value());
  EXPECT_FALSE(WritableFile::open(file, WritableFile::Mode::kKeepContent).has_value());
}

TEST_F(FilesTest, KeepContentWritesAtTheSoughtPosition) {
  const std::string file = path("resume.bin");
  ASSERT_TRUE(write_whole_file(file, "abcdef"));
  {
    auto writer = WritableFile::open(file, WritableFile::Mode::kKeepContent);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->seek(3));
    ASSERT_TRUE(writer->write_all(std::span<const char>("XY", 2)));
  }
  EXPECT_EQ(text_of(read_whole_file(file)), "abcXYf");

  auto writer = WritableFile::open(file, WritableFile::Mode::kKeepContent);
  ASSERT_TRUE(writer.has_value());
  ASSERT_TRUE(writer->write_all(std::span<const char>("Q", 1)));  // without a seek: at the start
  EXPECT_TRUE(writer->close());
  EXPECT_EQ(text_of(read_whole_file(file)), "QbcXYf");
}

TEST_F(FilesTest, TruncateEmptiesAndCreates) {
  const std::string existing = path("old.bin");
  ASSERT_TRUE(write_whole_file(existing, "old content"));
  auto writer = WritableFile::open(existing, WritableFile::Mode::kTruncate);
  ASSERT_TRUE(writer.has_value());
  EXPECT_EQ(file_size(existing), 0u);
  ASSERT_TRUE(writer->write_all(std::span<const char>("new", 3)));
  EXPECT_TRUE(writer->close());
  EXPECT_EQ(text_of(read_whole_file(existing)), "new");

  const std::string fresh = path("fresh.bin");
  EXPECT_TRUE(WritableFile::open(fresh, WritableFile::Mode::kKeepContent).has_value());
  EXPECT_EQ(file_size(fresh), 0u);
}

TEST_F(FilesTest, LargeWriteArrivesWhole) {
  const std::string file = path("large.bin");
  std::string content(5 * 1024 * 1024 + 17, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  auto writer = WritableFile::open(file, WritableFile::Mode::kTruncate);
  ASSERT_TRUE(writer.has_value());
  ASSERT_TRUE(writer->write_all(content));
  ASSERT_TRUE(writer->close());
  EXPECT_EQ(text_of(read_whole_file(file)), content);
}

TEST_F(FilesTest, CloseOnceAndMoveTheOwnership) {
  const std::string file = path("owner.bin");
  auto opened = WritableFile::open(file, WritableFile::Mode::kTruncate);
  ASSERT_TRUE(opened.has_value());
  WritableFile writer = std::move(*opened);
  EXPECT_FALSE(opened->is_open());
  EXPECT_FALSE(opened->write_all(std::span<const char>("x", 1)));
  EXPECT_FALSE(opened->seek(0));
  ASSERT_TRUE(writer.is_open());
  EXPECT_TRUE(writer.write_all(std::span<const char>("moved", 5)));
  EXPECT_TRUE(writer.close());
  EXPECT_FALSE(writer.is_open());
  EXPECT_FALSE(writer.close());
  EXPECT_EQ(text_of(read_whole_file(file)), "moved");
}

// Another program (a scanner, a second copy of the installer) may hold the file: reading,
// a second writer and deleting must all still work while our writer is open.
TEST_F(FilesTest, AnOpenWriterSharesReadWriteAndDelete) {
  const std::string file = path("shared.bin");
  auto writer = WritableFile::open(file, WritableFile::Mode::kTruncate);
  ASSERT_TRUE(writer.has_value());
  ASSERT_TRUE(writer->write_all(std::span<const char>("12345", 5)));
  EXPECT_EQ(text_of(read_whole_file(file)), "12345");
  EXPECT_EQ(file_size(file), 5u);

  auto second = WritableFile::open(file, WritableFile::Mode::kKeepContent);
  ASSERT_TRUE(second.has_value());
  ASSERT_TRUE(second->seek(5));
  ASSERT_TRUE(second->write_all(std::span<const char>("67", 2)));
  ASSERT_TRUE(second->close());
  EXPECT_EQ(text_of(read_whole_file(file)), "1234567");

  EXPECT_TRUE(write_whole_file(file, "rewritten"));
  EXPECT_TRUE(delete_file(file));
  EXPECT_TRUE(writer->write_all(std::span<const char>("late", 4)));  // the handle stays usable
  EXPECT_TRUE(writer->close());
  EXPECT_FALSE(is_regular_file(file));
}

TEST_F(FilesTest, NamesOutsideAsciiRoundTrip) {
  const std::string name = "Lo\xC3\xB6mwork \xE2\x82\xAC \xF0\x9F\x8C\x80.meta";  // ö € and an astral character
  const std::string file = path(name);
  ASSERT_TRUE(write_whole_file(file, "etag"));
  EXPECT_TRUE(fs::exists(folder_ / fs::path(std::u8string(name.begin(), name.end()))));
  EXPECT_EQ(text_of(read_whole_file(file)), "etag");
  EXPECT_EQ(file_size(file), 4u);
  EXPECT_TRUE(delete_file(file));
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(FilesTest, TempFolderIsAnExistingFolderEndingWithASeparator) {
  const FileResult<std::string> temp = temp_folder();
  ASSERT_TRUE(temp.has_value());
  ASSERT_FALSE(temp->empty());
  EXPECT_TRUE(temp->back() == '/' || temp->back() == '\\') << *temp;
  EXPECT_TRUE(fs::is_directory(fs::path(std::u8string(temp->begin(), temp->end())))) << *temp;
}

TEST(JoinPath, AddsOneSeparatorOnlyWhenMissing) {
#ifdef _WIN32
  EXPECT_EQ(join_path("C:\\Temp\\", "a.exe"), "C:\\Temp\\a.exe");
  EXPECT_EQ(join_path("C:\\Temp", "a.exe"), "C:\\Temp\\a.exe");
  EXPECT_EQ(join_path("C:/Temp/", "a.exe"), "C:/Temp/a.exe");
#else
  EXPECT_EQ(join_path("/tmp/", "a.exe"), "/tmp/a.exe");
  EXPECT_EQ(join_path("/tmp", "a.exe"), "/tmp/a.exe");
#endif
}

}  // namespace
}  // namespace ombrel::platform
