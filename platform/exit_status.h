#pragma once
// Every exit status of the installer process, and when each is given.
namespace ombrel::platform {

// The message loop ended: the close timer after completion, or the user closed the window.
inline constexpr int kExitNormal = 0;
// COM could not be initialised; the one start-up failure shown to the user, in a message box.
inline constexpr int kExitComInitFailed = 1;
// The program's own set-up failed (GUI toolkit, font, window, controls, thread creation); a
// one-line diagnostic went to the standard error stream.
inline constexpr int kFatalExitStatus = 70;

}  // namespace ombrel::platform
