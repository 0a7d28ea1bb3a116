#include "platform/architecture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace ombrel::platform {
namespace {

TEST(Architecture, EveryImageMachineValueMapsToOneOfThreeTags) {
  // All 65536 values: only AMD64 and ARM64 name a 64-bit machine; I386, UNKNOWN (0), IA64,
  // 32-bit ARM and anything else count as x86.
  for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
    const auto tag = architecture_from_image_machine(static_cast<std::uint16_t>(value));
    const std::string_view expected = value == 0x8664 ? "x64" : value == 0xAA64 ? "arm64" : "x86";
    ASSERT_EQ(tag, expected) << std::hex << value;
  }
}

TEST(Architecture, EveryProcessorArchitectureValueMapsToOneOfThreeTags) {
  // 9 AMD64, 12 ARM64; 0 INTEL, 5 ARM, 6 IA64, 0xFFFF UNKNOWN and the rest: x86.
  for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
    const auto tag = architecture_from_processor_architecture(static_cast<std::uint16_t>(value));
    const std::string_view expected = value == 9 ? "x64" : value == 12 ? "arm64" : "x86";
    ASSERT_EQ(tag, expected) << value;
  }
}

TEST(Architecture, UnixMachineNames) {
  struct Case {
    const char* machine;
    const char* tag;
  };
  for (const auto& c : {Case{"x86_64", "x64"}, Case{"amd64", "x64"}, Case{"aarch64", "arm64"}, Case{"arm64", "arm64"},
                        Case{"i686", "x86"}, Case{"i386", "x86"}, Case{"armv7l", "x86"}, Case{"riscv64", "x86"},
                        Case{"X86_64", "x86"}, Case{"", "x86"}}) {
    EXPECT_EQ(architecture_from_machine_name(c.machine), c.tag) << c.machine;
  }
}

TEST(Architecture, DetectionGivesTheSameKeptTagOnEveryThread) {
  std::vector<std::string_view> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = detect_architecture(); });
  for (auto& thread : threads) thread.join();
  const std::set<std::string_view> tags(seen.begin(), seen.end());
  ASSERT_EQ(tags.size(), 1u);
  // The very same characters, not merely equal text: the tag is computed once and kept.
  EXPECT_EQ(seen[0].data(), detect_architecture().data());
#if defined(__x86_64__) || defined(_M_X64)
  // This machine (or Wine on it) is x64 whatever the bitness of the test.
  EXPECT_EQ(seen[0], "x64");
#elif defined(__aarch64__)
  EXPECT_EQ(seen[0], "arm64");
#endif
}

}  // namespace
}  // namespace ombrel::platform
