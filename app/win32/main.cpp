// Entry point of "Install Ombrel Loomwork.exe": translations, COM, the window, the first run,
// then the message loop until the window closes or the close timer ends it.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "app/pipeline_runner.h"
#include "app/view_model.h"
#include "app/win32/com_apartment.h"
#include "app/win32/installer_window.h"
#include "app/win32/single_instance.h"
#include "app/win32/window_events.h"
#include "pipeline/real_steps.h"
#include "platform/exit_status.h"
#include "platform/win32/wide.h"
#include "translations/translations.h"

// libstdc++'s default terminate handler prints the active exception's demangled type to stderr,
// which a GUI exe does not have, and pulls the whole C++ demangler (~40 KB) in for it. This
// one ends the process the same way (abort) without it; the linker takes ours over the library's.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace {

using namespace ombrel;

// The one start-up error the user sees: COM could not be initialised.
void show_com_init_error() {
  const std::wstring text = win32::to_wide(tr(keys::kErrorComInit));
  const std::wstring caption = win32::to_wide(tr(keys::kWindowTitle));
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
}

int run() {
  // A second copy (a double click that launched twice) only brings the first one forward.
  std::optional<win32::SingleInstance> instance = win32::SingleInstance::claim();
  if (!instance) return platform::kExitNormal;

  initialize_translations();

  const win32::ComApartment com;
  if (!com.usable()) {
    show_com_init_error();
    return platform::kExitComInitFailed;
  }

  {
    std::shared_ptr<win32::InstallerWindow> window = win32::build_main_window();
    instance->publish_window(window->window());
    auto slot = std::make_shared<StageSlot>();
    auto runner =
        std::make_shared<PipelineRunner>(ViewModel(slot, window->notice_target()), [] { return make_real_steps(); });
    // The first run starts before the handler exists; its notices wait in the queue.
    runner->start_worker();
    win32::bind_window_events(window, runner, slot);

    win32::run_message_loop();

    // Teardown in order: handler, runner (a running worker is abandoned, not joined), window.
    window->unbind();
    runner.reset();
    slot.reset();
    window.reset();
  }
  return platform::kExitNormal;  // COM is uninitialised on the way out
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: only the system folder, never the folder of the executable
  // (a download folder may hold a planted copy of any system DLL). Imports the loader resolves
  // before this line are all on the KnownDLLs list.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  const int status = run();
  // A worker abandoned at close may still be inside a step: end the process here, which stops
  // it first, rather than running static destructors under its feet.
  ExitProcess(static_cast<UINT>(status));
}
