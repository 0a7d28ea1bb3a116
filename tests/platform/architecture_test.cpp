#include "platform/architecture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace ombrel::platform {
namespace {

TEST(Architecture, WindowsMachineValuesMapToOneOfThreeTags) {
  // The values Windows reports; only AMD64 and ARM64 name a 64-bit machine, everything else
  // (unknown, IA64, 32-bit ARM, ARM64EC's code type) counts as x86.
  struct Case {
    const char* name;
    std::uint16_t value;
    const char* tag;
  };
  for (const Case& c :
       {Case{"IMAGE_FILE_MACHINE_AMD64", 0x8664, "x64"}, Case{"IMAGE_FILE_MACHINE_ARM64", 0xAA64, "arm64"},
        Case{"IMAGE_FILE_MACHINE_I386", 0x014C, "x86"}, Case{"IMAGE_FILE_MACHINE_UNKNOWN", 0, "x86"},
        Case{"IMAGE_FILE_MACHINE_IA64", 0x0200, "x86"}, Case{"IMAGE_FILE_MACHINE_ARMNT", 0x01C4, "x86"},
        Case{"IMAGE_FILE_MACHINE_ARM64EC", 0xA641, "x86"}}) {
    EXPECT_EQ(architecture_from_image_machine(c.value), c.tag) << c.name;
  }
  for (const Case& c :
       {Case{"PROCESSOR_ARCHITECTURE_AMD64", 9, "x64"}, Case{"PROCESSOR_ARCHITECTURE_ARM64", 12, "arm64"},
        Case{"PROCESSOR_ARCHITECTURE_INTEL", 0, "x86"}, Case{"PROCESSOR_ARCHITECTURE_ARM", 5, "x86"},
        Case{"PROCESSOR_ARCHITECTURE_IA64", 6, "x86"}, Case{"PROCESSOR_ARCHITECTURE_UNKNOWN", 0xFFFF, "x86"}}) {
    EXPECT_EQ(architecture_from_processor_architecture(c.value), c.tag) << c.name;
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
  threads.reserve(seen.size());
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
