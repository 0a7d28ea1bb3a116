// Reading text values through the registry interface: which types count, how the stored
// bytes become text, and the expansion of REG_EXPAND_SZ with its fallbacks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/memory_registry.h"

namespace ombrel {
namespace {

using Tree = test::MemoryRegistry::Tree;

class RegistryStringTest : public ::testing::Test {
 protected:
  void SetUp() override { registry_.create_key(Tree::kCurrentUser, "Key"); }

  std::optional<std::string> read(const char* name = "Value") {
    platform::RegKey key = platform::RegKey::open(registry_, platform::kHkeyCurrentUser, u"Key", platform::kKeyRead);
    EXPECT_TRUE(key);
    return key.read_string(name);
  }
  void set(std::uint32_t type, std::u16string_view text, int nuls = 1) {
    registry_.set_text(Tree::kCurrentUser, "Key", "Value", type, text, nuls);
  }
  void set_bytes(std::uint32_t type, std::vector<std::uint8_t> bytes) {
    registry_.set_raw(Tree::kCurrentUser, "Key", "Value", type, std::move(bytes));
  }

  test::MemoryRegistry registry_;
};

TEST_F(RegistryStringTest, TextIsStoredBytesWithoutTrailingNuls) {
  set(platform::kRegSz, u"C:\\App", 1);
  EXPECT_EQ(read(), "C:\\App");
  set(platform::kRegSz, u"C:\\App", 0);
  EXPECT_EQ(read(), "C:\\App") << "no terminator stored";
  set(platform::kRegSz, u"C:\\App", 3);
  EXPECT_EQ(read(), "C:\\App") << "every trailing NUL goes";
  set(platform::kRegSz, std::u16string_view(u"a\0b", 3), 2);
  EXPECT_EQ(read(), std::string("a\0b", 3)) << "inner NULs stay";
  set(platform::kRegSz, u"", 1);
  EXPECT_EQ(read(), "") << "only a terminator: empty text, not absent";
  set(platform::kRegSz, u"\u00e9\u6f22\U0001F600", 1);
  EXPECT_EQ(read(), "\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80");
  set(platform::kRegSz,
      std::u16string_view(u"a\xD800"
                          "b",
                          3),
      1);
  EXPECT_EQ(read(),
            "a\xEF\xBF\xBD"
            "b")
      << "an unpaired surrogate becomes U+FFFD";
}

TEST_F(RegistryStringTest, OddByteCountKeepsItsLastByte) {
  set_bytes(platform::kRegSz, {'a', 0, 'b', 0, 'c'});
  EXPECT_EQ(read(), "abc");
}

TEST_F(RegistryStringTest, OtherTypesEmptyAndMissingValuesAreAbsent) {
  EXPECT_EQ(read("Nothing"), std::nullopt);
  set_bytes(platform::kRegSz, {});
  EXPECT_EQ(read(), std::nullopt) << "size 0";
  set_bytes(platform::kRegDword, {'A', 0, 0, 0});
  EXPECT_EQ(read(), std::nullopt);
  set(platform::kRegMultiSz, u"C:\\App", 2);
  EXPECT_EQ(read(), std::nullopt);
  set(platform::kRegBinary, u"C:\\App", 1);
  EXPECT_EQ(read(), std::nullopt);
  set(0 /* REG_NONE */, u"C:\\App", 1);
  EXPECT_EQ(read(), std::nullopt);
}

// Found by fuzzing: a value claiming gigabytes made the lookup allocate and clear all of it.
TEST_F(RegistryStringTest, ValueLargerThanAnyNameOrPathIsAbsent) {
  std::vector<std::uint8_t> bytes(platform::kMaxRegistryStringBytes, 0);
  bytes[0] = 'a';
  set_bytes(platform::kRegSz, bytes);
  EXPECT_EQ(read(), "a") << "at the limit";
  bytes.resize(platform::kMaxRegistryStringBytes + 2, 0);
  set_bytes(platform::kRegSz, bytes);
  EXPECT_EQ(read(), std::nullopt) << "above the limit";
}

TEST_F(RegistryStringTest, ExpandSzIsExpandedAndSzIsNot) {
  registry_.set_env("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
  set(platform::kRegExpandSz, u"%LOCALAPPDATA%\\Programs\\%UNSET%\\x", 1);
  EXPECT_EQ(read(), "C:\\Users\\u\\AppData\\Local\\Programs\\%UNSET%\\x");
  set(platform::kRegSz, u"%LOCALAPPDATA%\\Programs", 1);
  EXPECT_EQ(read(), "%LOCALAPPDATA%\\Programs");
  set(platform::kRegExpandSz, u"", 1);
  EXPECT_EQ(read(), "");
}

TEST_F(RegistryStringTest, FailedOrOverflowingExpansionKeepsTheUnexpandedText) {
  registry_.set_env("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
  set(platform::kRegExpandSz, u"%LOCALAPPDATA%\\Programs", 1);
  registry_.grow_between_expansions();
  EXPECT_EQ(read(), "%LOCALAPPDATA%\\Programs");
  registry_.fail_expansion();
  EXPECT_EQ(read(), "%LOCALAPPDATA%\\Programs");
}

}  // namespace
}  // namespace ombrel
