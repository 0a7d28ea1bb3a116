#pragma once
// COM for the main thread: a single-threaded apartment (no OLE1 DDE) for as long as the owner
// lives. S_OK and S_FALSE are each balanced by one CoUninitialize; another apartment mode set
// before us is usable but not ours to undo.
#include <windows.h>
#include <objbase.h>

namespace ombrel::win32 {

class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() { reset(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // COM can be used on this thread, whoever initialised it.
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

  void reset() {
    if (SUCCEEDED(result_)) CoUninitialize();
    result_ = E_FAIL;
  }

 private:
  HRESULT result_;
};

}  // namespace ombrel::win32
