#include "platform/architecture.h"

namespace ombrel::platform {
namespace {
constexpr std::uint16_t kImageFileMachineAmd64 = 0x8664;
constexpr std::uint16_t kImageFileMachineArm64 = 0xAA64;
constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
constexpr std::uint16_t kProcessorArchitectureArm64 = 12;
}  // namespace

std::string_view architecture_from_image_machine(std::uint16_t machine) {
  switch (machine) {
    case kImageFileMachineArm64:
      return "arm64";
    case kImageFileMachineAmd64:
      return "x64";
    default:
      return "x86";
  }
}

std::string_view architecture_from_processor_architecture(std::uint16_t architecture) {
  switch (architecture) {
    case kProcessorArchitectureArm64:
      return "arm64";
    case kProcessorArchitectureAmd64:
      return "x64";
    default:
      return "x86";
  }
}

std::string_view architecture_from_machine_name(std::string_view machine) {
  if (machine == "x86_64" || machine == "amd64") return "x64";
  if (machine == "aarch64" || machine == "arm64") return "arm64";
  return "x86";
}

}  // namespace ombrel::platform
