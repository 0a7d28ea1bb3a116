#pragma once
// The window's icon: the largest image of the product icon, decoded and scaled to the window's
// icon size; the stock error icon when that cannot be done.
#include <windows.h>

#include <cstddef>
#include <span>

#include "app/win32/handles.h"

namespace ombrel::win32 {

// Decodes the first image of an icon, PNG (or any WIC-readable) file into a size × size 32-bit
// premultiplied icon. Null when any step fails. Needs COM on the calling thread.
HICON decode_icon_image(std::span<const std::byte> file, int size);

// The stock IDI_ERROR icon (shared, never destroyed).
UniqueIcon stock_error_icon();

// decode_icon_image of `file`, falling back to the stock error icon; the reason of a failure
// is dropped, the window is built all the same.
UniqueIcon make_window_icon(std::span<const std::byte> file, int size);

// The largest image of this executable's product icon, as stored (a PNG for the product icon);
// empty when it is missing.
std::span<const std::byte> stored_icon_image();

}  // namespace ombrel::win32
