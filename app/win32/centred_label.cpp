#include "app/win32/centred_label.h"

#include <string>

namespace ombrel::win32 {
namespace {

constexpr wchar_t kOriginalProcedure[] = L"OmbrelCentredLabelProc";

WNDPROC original_procedure(HWND label) { return reinterpret_cast<WNDPROC>(GetPropW(label, kOriginalProcedure)); }

// Height of the label's text wrapped at `width`, in the label's font.
int text_height(HWND label, int width) {
  const int length = GetWindowTextLengthW(label);
  if (length <= 0 || width <= 0) return 0;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(label, text.data(), length + 1)));
  HDC dc = GetDC(label);
  if (dc == nullptr) return 0;
  auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  RECT bounds{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
            DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
  if (previous != nullptr) SelectObject(dc, previous);
  ReleaseDC(label, dc);
  return bounds.bottom - bounds.top;
}

// Recomputes the client area after the text or the font changed.
void refresh_frame(HWND label) {
  SetWindowPos(label, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
}

// Fills the margins outside the client area the way the control fills its own background.
void paint_margins(HWND label) {
  HDC dc = GetWindowDC(label);
  if (dc == nullptr) return;
  RECT window{};
  GetWindowRect(label, &window);
  RECT client{};
  GetClientRect(label, &client);
  MapWindowPoints(label, nullptr, reinterpret_cast<POINT*>(&client), 2);
  OffsetRect(&client, -window.left, -window.top);
  OffsetRect(&window, -window.left, -window.top);
  ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
  auto brush = reinterpret_cast<HBRUSH>(
      SendMessageW(GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
  if (brush == nullptr) brush = GetSysColorBrush(COLOR_3DFACE);
  FillRect(dc, &window, brush);
  ReleaseDC(label, dc);
}

LRESULT CALLBACK label_procedure(HWND label, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC original = original_procedure(label);
  if (original == nullptr) return DefWindowProcW(label, message, wparam, lparam);
  switch (message) {
    case WM_NCCALCSIZE: {
      LRESULT result = CallWindowProcW(original, label, message, wparam, lparam);
      // Both forms start with the proposed client rectangle.
      RECT* client = reinterpret_cast<RECT*>(lparam);
      const int height = client->bottom - client->top;
      const int text = text_height(label, client->right - client->left);
      if (text > 0 && text < height) {
        client->top += (height - text) / 2;
        client->bottom = client->top + text;
      }
      return result;
    }
    case WM_NCPAINT:
      CallWindowProcW(original, label, message, wparam, lparam);
      paint_margins(label);
      return 0;
    case WM_SETTEXT:
    case WM_SETFONT: {
      LRESULT result = CallWindowProcW(original, label, message, wparam, lparam);
      refresh_frame(label);
      return result;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      RemovePropW(label, kOriginalProcedure);
      return CallWindowProcW(original, label, message, wparam, lparam);
    default:
      return CallWindowProcW(original, label, message, wparam, lparam);
  }
}

}  // namespace

void centre_text_vertically(HWND label) {
  auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(label, GWLP_WNDPROC));
  if (original == nullptr || !SetPropW(label, kOriginalProcedure, reinterpret_cast<HANDLE>(original))) return;
  SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&label_procedure));
  refresh_frame(label);
}

}  // namespace ombrel::win32
