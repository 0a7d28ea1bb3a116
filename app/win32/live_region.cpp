#include "app/win32/live_region.h"

#include <oleacc.h>

#include "app/win32/handles.h"

namespace ombrel::win32 {
namespace {

// Spelled out here: the SDK's copies live in libraries the exe does not otherwise link.
constexpr GUID kClsidAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kIidAccPropServices = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kLiveSettingPolite = 1;  // LiveSetting enumeration of UI Automation

}  // namespace

bool make_polite_live_region(HWND label) {
  // COM loads oleacc.dll by its registered System32 path, never from the exe's folder.
  ComRef<IAccPropServices> services;
  if (FAILED(CoCreateInstance(kClsidAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIidAccPropServices,
                              services.put_void()))) {
    return false;
  }
  VARIANT value{};
  value.vt = VT_I4;
  value.lVal = kLiveSettingPolite;
  return SUCCEEDED(
      services->SetHwndProp(label, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kLiveSettingProperty, value));
}

void announce_live_region(HWND label) {
  NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, label, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace ombrel::win32
