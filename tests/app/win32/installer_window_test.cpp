// The real Win32 window, built in-process under wine64: layout of every control at several
// scales, the font, the window class, stage rendering through the real controls, the close
// timer, the event handler's reactions and the icon decoding with its fallback.
#include "app/win32/installer_window.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/pipeline_runner.h"
#include "app/win32/gui_toolkit.h"
#include "app/win32/window_events.h"
#include "app/win32/window_icon.h"
#include "platform/win32/wide.h"
#include "tests/support/fake_steps.h"
#include "tests/support/test_data.h"
#include "translations/translations.h"

namespace ombrel::win32 {
namespace {

class InstallerWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }
  void SetUp() override { com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override {
    drain_messages();
    if (com_) CoUninitialize();
  }

  // Dispatches what is queued for this thread (the window's own paint and notice traffic);
  // returns true when a WM_QUIT was among it.
  static bool drain_messages() {
    bool quit = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) quit = true;
      DispatchMessageW(&message);
    }
    return quit;
  }

  bool com_ = false;
};

Rect rect_in_parent(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string text_of(HWND control) {
  wchar_t buffer[512];
  const int length = GetWindowTextW(control, buffer, 512);
  return from_wide(std::wstring_view(buffer, static_cast<size_t>(length)));
}

LONG_PTR style_of(HWND control) { return GetWindowLongPtrW(control, GWL_STYLE); }

std::string class_of(HWND control) {
  wchar_t buffer[128];
  const int length = GetClassNameW(control, buffer, 128);
  return from_wide(std::wstring_view(buffer, static_cast<size_t>(length)));
}

class LayoutAtScale : public InstallerWindowTest, public ::testing::WithParamInterface<double> {};

TEST_P(LayoutAtScale, EveryControlSitsWhereTheLayoutSaysWithTheDefaultFont) {
  const double scale = GetParam();
  auto window = InstallerWindow::build(scale);
  const WindowLayout expected = window_layout(scale);

  RECT client{};
  GetClientRect(window->window(), &client);
  EXPECT_EQ(client.right, expected.client_width);
  EXPECT_EQ(client.bottom, expected.client_height);

  struct Control {
    HWND handle;
    Rect place;
    const char* window_class;
  };
  const std::vector<Control> controls = {
      {window->icon_frame(), expected.icon_frame, "Static"},
      {window->title_label(), expected.title_label, "Static"},
      {window->progress_bar(), expected.progress_bar, "msctls_progress32"},
      {window->status_label(), expected.status_label, "Static"},
      {window->retry_button(), expected.retry_button, "Button"},
      {window->version_label(), expected.version_label, "Static"},
  };
  // Creation order is the tab order: the first child and each next sibling.
  HWND child = GetWindow(window->window(), GW_CHILD);
  for (const Control& control : controls) {
    EXPECT_EQ(child, control.handle);
    EXPECT_EQ(rect_in_parent(control.handle), control.place) << control.window_class;
    EXPECT_STRCASEEQ(class_of(control.handle).c_str(), control.window_class);
    if (control.handle != window->icon_frame()) {  // an image static keeps no font
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control.handle, WM_GETFONT, 0, 0)), window->font());
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "exactly six controls, not also a " << (child ? class_of(child) : "");

  LOGFONTW font{};
  ASSERT_NE(GetObjectW(window->font(), sizeof(font), &font), 0);
  EXPECT_EQ(font.lfHeight, static_cast<LONG>(expected.font_height));
  EXPECT_EQ(font.lfWeight, 0);
  EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
  EXPECT_EQ(font.lfPitchAndFamily & 3, VARIABLE_PITCH);
  EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
}

INSTANTIATE_TEST_SUITE_P(Scales, LayoutAtScale, ::testing::Values(1.0, 1.25, 1.5, 2.0));

TEST_F(InstallerWindowTest, StartsWithTheTextsStylesAndStateOfAFreshWindow) {
  auto window = InstallerWindow::build(1.0);
  EXPECT_EQ(text_of(window->window()), tr(keys::kWindowTitle));
  EXPECT_EQ(text_of(window->title_label()), tr(keys::kTitleHeading));
  EXPECT_EQ(text_of(window->retry_button()), tr(keys::kButtonRetry));
  EXPECT_EQ(text_of(window->version_label()), "v0.0.20");
  EXPECT_EQ(text_of(window->status_label()), "");

  const LONG_PTR style = style_of(window->window());
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_VISIBLE | WS_CLIPCHILDREN),
            WS_CAPTION | WS_SYSMENU | WS_VISIBLE | WS_CLIPCHILDREN);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_EQ(GetWindowLongPtrW(window->window(), GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);

  EXPECT_EQ(GetClassLongPtrW(window->window(), GCL_STYLE), CS_HREDRAW | CS_VREDRAW);
  EXPECT_EQ(GetClassLongPtrW(window->window(), GCLP_HBRBACKGROUND), COLOR_MENU + 1);
  EXPECT_EQ(GetClassLongPtrW(window->window(), GCLP_HICON), 0);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(window->window(), GCLP_HCURSOR)),
            LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));

  EXPECT_EQ(style_of(window->title_label()) & 0xFFFF, SS_CENTER | SS_NOPREFIX | SS_NOTIFY);
  EXPECT_EQ(style_of(window->icon_frame()) & 0xFFFF, SS_ICON | SS_NOTIFY | SS_CENTERIMAGE);
  EXPECT_EQ(style_of(window->retry_button()) & 0xFFFF, BS_NOTIFY);
  EXPECT_TRUE(style_of(window->retry_button()) & WS_TABSTOP);
  EXPECT_FALSE(IsWindowVisible(window->retry_button()));
  EXPECT_TRUE(IsWindowEnabled(window->retry_button()));

  HWND bar = window->progress_bar();
  EXPECT_EQ(style_of(bar) & PBS_MARQUEE, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 1000);
  EXPECT_FALSE(window->close_timer().running());
  EXPECT_NE(window->notice_target().id, 0u);
  EXPECT_EQ(window->notice_target().window, window->window());
}

TEST_F(InstallerWindowTest, EachWindowHasItsOwnNoticeAndTimerIdentifiers) {
  auto first = InstallerWindow::build(1.0);
  auto second = InstallerWindow::build(1.0);
  EXPECT_NE(first->notice_target().id, second->notice_target().id);
  EXPECT_NE(first->close_timer().id(), second->close_timer().id());
}

TEST_F(InstallerWindowTest, RendersStagesOnTheRealControls) {
  auto window = InstallerWindow::build(1.0);
  HWND bar = window->progress_bar();

  apply_stage(FetchingManifest{}, *window);
  EXPECT_EQ(text_of(window->status_label()), tr(keys::kStatusFetchingManifest));
  EXPECT_NE(style_of(bar) & PBS_MARQUEE, 0) << "the marquee moves";

  apply_stage(Downloading{0.125}, *window);
  EXPECT_EQ(text_of(window->status_label()), tr_fmt(keys::kStatusDownloadingFmt, "13"));
  EXPECT_EQ(style_of(bar) & PBS_MARQUEE, 0) << "a position is shown, not the marquee";
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 125);

  apply_stage(Installing{}, *window);
  EXPECT_NE(style_of(bar) & PBS_MARQUEE, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 125) << "the position stays behind the animation";

  apply_stage(Failed{"Kaputt: \xE6\x8E\xA5\xE7\xB6\x9A"}, *window);
  EXPECT_EQ(text_of(window->status_label()), "Kaputt: \xE6\x8E\xA5\xE7\xB6\x9A");
  EXPECT_EQ(style_of(bar) & PBS_MARQUEE, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_TRUE(IsWindowVisible(window->retry_button()));
  EXPECT_EQ(GetFocus(), window->retry_button());

  apply_stage(FetchingManifest{}, *window);
  EXPECT_FALSE(IsWindowVisible(window->retry_button()));
  EXPECT_NE(style_of(bar) & PBS_MARQUEE, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);

  apply_stage(Complete{}, *window);
  EXPECT_EQ(text_of(window->status_label()), tr(keys::kStatusComplete));
  EXPECT_EQ(style_of(bar) & PBS_MARQUEE, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 1000);
  EXPECT_TRUE(window->close_timer().running());
}

TEST_F(InstallerWindowTest, TheFocusedRetryButtonKeepsTheFocusAcrossDeactivation) {
  auto window = InstallerWindow::build(1.0);
  apply_stage(Failed{"x"}, *window);
  SendMessageW(window->window(), WM_ACTIVATE, WA_INACTIVE, 0);
  SetFocus(window->window());
  SendMessageW(window->window(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), window->retry_button());
}

// The window, a runner whose runs wait until the test lets them end, and the bound handler.
class BoundWindowTest : public InstallerWindowTest {
 protected:
  void SetUp() override {
    InstallerWindowTest::SetUp();
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    window_ = InstallerWindow::build(1.0);
    slot_ = std::make_shared<StageSlot>();
    auto runs = runs_;
    HANDLE release = release_;
    runner_ = std::make_shared<PipelineRunner>(ViewModel(slot_, window_->notice_target()), [runs, release] {
      // Each run waits in its first step until the test lets it end.
      test::StepScript script;
      script.fetch.action = [runs, release](StageReporter*) {
        ++*runs;
        WaitForSingleObject(release, INFINITE);
      };
      script.fetch.failure = PipelineError{FailureReason::kUnexpectedFault, 0, "held run over"};
      return std::make_unique<test::FakeSteps>(std::move(script));
    });
    bind_window_events(window_, runner_, slot_);
  }
  void TearDown() override {
    SetEvent(release_);
    while (runner_->worker_busy()) Sleep(1);
    window_->unbind();
    runner_.reset();
    window_.reset();
    CloseHandle(release_);
    InstallerWindowTest::TearDown();
  }

  void command(HWND source, WORD code) {
    SendMessageW(window_->window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(source), code),
                 reinterpret_cast<LPARAM>(source));
  }

  HANDLE release_ = nullptr;
  std::shared_ptr<std::atomic<int>> runs_ = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<InstallerWindow> window_;
  std::shared_ptr<StageSlot> slot_;
  std::shared_ptr<PipelineRunner> runner_;
};

TEST_F(BoundWindowTest, OnlyAClickOfTheRetryButtonStartsARun) {
  command(window_->title_label(), 0);  // STN_CLICKED has the same code as BN_CLICKED
  command(window_->retry_button(), BN_DOUBLECLICKED);
  command(window_->icon_frame(), 0);
  EXPECT_FALSE(runner_->worker_busy());

  command(window_->retry_button(), BN_CLICKED);
  EXPECT_TRUE(runner_->worker_busy());
  command(window_->retry_button(), BN_CLICKED);  // still running: ignored
  SetEvent(release_);
  while (runner_->worker_busy()) Sleep(1);
  EXPECT_EQ(runs_->load(), 1);
}

TEST_F(BoundWindowTest, ANoticeRendersThePendingStageOnlyWhenItIsTheWindowsOwn) {
  const platform::NoticeTarget notice = window_->notice_target();
  slot_->put(Failed{"from the worker"});
  SendMessageW(window_->window(), platform::kNoticeMessage, notice.id + 1, reinterpret_cast<LPARAM>(window_->window()));
  EXPECT_EQ(text_of(window_->status_label()), "") << "another notice id";

  SendMessageW(window_->window(), platform::kNoticeMessage, notice.id, reinterpret_cast<LPARAM>(window_->window()));
  EXPECT_EQ(text_of(window_->status_label()), "from the worker");
  EXPECT_TRUE(IsWindowVisible(window_->retry_button()));

  // A second notice finds the slot empty and changes nothing.
  SetWindowTextW(window_->status_label(), L"unchanged");
  SendMessageW(window_->window(), platform::kNoticeMessage, notice.id, reinterpret_cast<LPARAM>(window_->window()));
  EXPECT_EQ(text_of(window_->status_label()), "unchanged");
}

TEST_F(BoundWindowTest, ACrossThreadNoticeFromAWorkerReachesTheWindowThroughTheMessageQueue) {
  ViewModel view_model(slot_, window_->notice_target());
  std::thread worker([&] { view_model.send_stage(Downloading{0.5}); });
  worker.join();
  drain_messages();
  EXPECT_EQ(SendMessageW(window_->progress_bar(), PBM_GETPOS, 0, 0), 500);
}

TEST_F(BoundWindowTest, TheCloseTimerTicksOnceAfterTwoSecondsAndPostsQuit) {
  drain_messages();
  apply_stage(Complete{}, *window_);
  const auto started = std::chrono::steady_clock::now();
  MSG message;
  bool quit = false;
  int ticks = 0;
  while (!quit && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    if (message.message == WM_QUIT) {
      quit = true;
    } else {
      if (message.message == WM_TIMER && message.hwnd == window_->window()) ++ticks;
      DispatchMessageW(&message);
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(quit);
  EXPECT_EQ(ticks, 1);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
  EXPECT_FALSE(window_->close_timer().running());
  Sleep(2200);
  EXPECT_FALSE(drain_messages()) << "no second tick";
}

TEST_F(BoundWindowTest, TimersOtherThanTheCloseTimerAreIgnored) {
  SendMessageW(window_->window(), WM_TIMER, window_->close_timer().id() + 1000, 0);
  EXPECT_FALSE(drain_messages());
}

TEST_F(BoundWindowTest, ClosingTheWindowPostsQuitAndDestroysIt) {
  drain_messages();
  SendMessageW(window_->window(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window_->window()));
  EXPECT_TRUE(drain_messages());
}

TEST_F(InstallerWindowTest, ReleasingTheRecordDestroysTheWindowAndItsControls) {
  auto window = InstallerWindow::build(1.0);
  HWND top = window->window();
  HWND button = window->retry_button();
  window.reset();
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(button));
}

std::vector<std::byte> product_icon_file() {
  const std::string bytes = test::read_test_file(test::test_data_dir() / ".." / ".." / "resources" / "ombrel.ico");
  const auto* data = reinterpret_cast<const std::byte*>(bytes.data());
  return {data, data + bytes.size()};
}

// Colour of one pixel of an icon's colour bitmap, as 0xRRGGBB.
unsigned icon_pixel(HICON icon, int x, int y, int* size) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return 0xFFFFFFFF;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
  *size = bitmap.bmWidth;
  BITMAPINFO bmi{};
  bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), bitmap.bmWidth, -bitmap.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<unsigned> pixels(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &bmi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels[static_cast<size_t>(y) * bitmap.bmWidth + x] & 0xFFFFFF;
}

// The icon file's first image alone (the 256 × 256 PNG), as the exe's icon resources store it.
std::vector<std::byte> first_image(const std::vector<std::byte>& file) {
  auto field = [&](size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, file.data() + at, sizeof(value));
    return value;
  };
  const uint32_t size = field(6 + 8);
  const uint32_t offset = field(6 + 12);
  return {file.begin() + offset, file.begin() + offset + size};
}

TEST_F(InstallerWindowTest, DecodesTheProductIconAtTheRequestedSize) {
  const std::vector<std::byte> file = product_icon_file();
  for (const auto& bytes : {file, first_image(file)}) {
    for (int size : {64, 80, 96}) {
      HICON icon = decode_icon_image(bytes, size);
      ASSERT_NE(icon, nullptr) << bytes.size() << " " << size;
      int actual = 0;
      // The centre crossing of the weave is the cream warp thread.
      EXPECT_EQ(icon_pixel(icon, size / 2, size / 2, &actual), 0xF3E7CFu) << bytes.size() << " " << size;
      EXPECT_EQ(actual, size);
      DestroyIcon(icon);
    }
  }
}

TEST_F(InstallerWindowTest, AnUndecodableIconFileFallsBackToTheStockErrorIcon) {
  const std::vector<std::byte> file = product_icon_file();
  const HICON stock =
      static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(32513), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  std::vector<std::byte> corrupt(file.begin(), file.begin() + 22);  // directory only, no image data
  const std::vector<std::vector<std::byte>> broken = {
      {}, corrupt, std::vector<std::byte>(500, std::byte{0xA5}), {file.begin(), file.begin() + 3000}};
  for (const auto& bytes : broken) {
    EXPECT_EQ(decode_icon_image(bytes, 64), nullptr) << bytes.size();
    UniqueIcon icon = make_window_icon(bytes, 64);
    EXPECT_EQ(icon.get(), stock) << bytes.size();
    EXPECT_FALSE(icon.owned());
  }
  EXPECT_EQ(decode_icon_image(file, 0), nullptr);
}

}  // namespace
}  // namespace ombrel::win32
