#pragma once
// The machine's native processor architecture, which names the manifest to fetch.
#include <cstdint>
#include <string_view>

namespace ombrel::platform {

// "x64", "arm64" or "x86": the architecture of the machine, not of this process (the 32-bit
// program runs under WOW64 on x64 and arm64 Windows). Probed once, on the first call from any
// thread; later calls return the kept tag. Anything unrecognised is "x86".
std::string_view detect_architecture();

// The mappings behind the probe, kept pure so every value can be tested on any system.
// IMAGE_FILE_MACHINE_* value of the native machine, as IsWow64Process2 reports it.
std::string_view architecture_from_image_machine(std::uint16_t machine);
// PROCESSOR_ARCHITECTURE_* value, as GetNativeSystemInfo reports it.
std::string_view architecture_from_processor_architecture(std::uint16_t architecture);
// Machine name of uname(2) ("x86_64", "aarch64", ...).
std::string_view architecture_from_machine_name(std::string_view machine);

}  // namespace ombrel::platform
