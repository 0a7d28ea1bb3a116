#pragma once
// The two system folders an application can be installed below.
#include <optional>
#include <string>

namespace ombrel::platform {

enum class KnownFolder {
  kLocalAppData,  // per-user application data; per-user programs live in its "Programs" folder
  kProgramFiles,  // machine-wide programs (for a 32-bit process on 64-bit Windows: the x86 one)
  kProfile,       // the user's profile folder, which carries the user's name
};

// The folder's path as the system gives it to this process, or nothing when it has none.
// Windows: SHGetKnownFolderPath. Elsewhere: $XDG_DATA_HOME (else ~/.local/share), /opt and $HOME.
std::optional<std::string> known_folder_path(KnownFolder folder);

}  // namespace ombrel::platform
