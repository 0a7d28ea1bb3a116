#pragma once
// The user's preferred UI languages, as BCP 47 tags such as "en-US" or "zh-Hant-TW".
#include <string>
#include <vector>

namespace ombrel::platform {

// Most preferred first; empty when the system has none or cannot say.
std::vector<std::string> preferred_ui_languages();

}  // namespace ombrel::platform
