#include "tests/support/notice_receiver.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/wake_queue.h"
#endif

namespace ombrel::test {

class NoticeReceiver::Impl {
 public:
  explicit Impl(std::function<void()> on_notice) : callback(std::move(on_notice)) {}

  // Called on the receiving thread for every wake-up.
  void deliver(std::uintptr_t id, bool sender_matches) {
    if (id != own_id || !sender_matches) {
      ++foreign;
      return;
    }
    ++received;
    if (callback) callback();
  }

  std::function<void()> callback;
  std::uintptr_t own_id = platform::next_notice_id();
  std::size_t received = 0;
  std::size_t foreign = 0;

#ifdef _WIN32
  HWND receiver_window = nullptr;

  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == platform::kNoticeMessage) {
      auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self != nullptr)
        self->deliver(static_cast<std::uintptr_t>(wparam), lparam == reinterpret_cast<LPARAM>(window));
      return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }
#else
  platform::WakeQueue queue;
#endif
};

#ifdef _WIN32

namespace {

const wchar_t* receiver_class() {
  static const wchar_t* name = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &NoticeReceiver::Impl::window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OmbrelTestNoticeReceiver";
    RegisterClassExW(&window_class);
    return window_class.lpszClassName;
  }();
  return name;
}

}  // namespace

NoticeReceiver::NoticeReceiver(std::function<void()> on_notice) : impl_(std::make_unique<Impl>(std::move(on_notice))) {
  // A plain top-level window that is never shown, like the product's window before it appears.
  impl_->receiver_window = CreateWindowExW(0, receiver_class(), L"", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                           GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(impl_->receiver_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
}

NoticeReceiver::~NoticeReceiver() {
  if (impl_->receiver_window != nullptr) DestroyWindow(impl_->receiver_window);
}

platform::NoticeTarget NoticeReceiver::target() const { return {impl_->receiver_window, impl_->own_id}; }

std::size_t NoticeReceiver::pump(std::chrono::milliseconds timeout) {
  const std::size_t before = impl_->received + impl_->foreign;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  for (;;) {
    MSG message;
    // Peeking also delivers the notices other threads sent to this window.
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    const std::size_t delivered = impl_->received + impl_->foreign - before;
    const ULONGLONG now = GetTickCount64();
    if (delivered > 0 || now >= deadline) return delivered;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

#else

NoticeReceiver::NoticeReceiver(std::function<void()> on_notice) : impl_(std::make_unique<Impl>(std::move(on_notice))) {
  impl_->queue.set_handler([impl = impl_.get()](std::uintptr_t id) { impl->deliver(id, true); });
}

NoticeReceiver::~NoticeReceiver() = default;

platform::NoticeTarget NoticeReceiver::target() const { return impl_->queue.target(impl_->own_id); }

std::size_t NoticeReceiver::pump(std::chrono::milliseconds timeout) {
  std::size_t delivered = 0;
  std::optional<std::uintptr_t> id = impl_->queue.wait_for(timeout);
  while (id) {
    impl_->deliver(*id, true);
    ++delivered;
    id = impl_->queue.try_take();
  }
  return delivered;
}

#endif

std::size_t NoticeReceiver::received() const { return impl_->received; }
std::size_t NoticeReceiver::foreign() const { return impl_->foreign; }

}  // namespace ombrel::test
