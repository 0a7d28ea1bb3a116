#include "app/win32/window_icon.h"

#include <wincodec.h>

#include <cstdint>

#include "resources/resource_ids.h"

namespace ombrel::win32 {
namespace {

// The version-1 factory exists on every Windows since Vista; defined here so no GUID library
// is needed.
constexpr GUID kWicImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr GUID kPixelFormat32bppPBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

// Copies the decoded, scaled and converted pixels into a top-down 32-bit DIB section.
UniqueBitmap render_to_dib(IWICBitmapSource* source, int size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // negative: rows from the top down, as WIC delivers them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (bitmap.get() == nullptr || bits == nullptr) return {};
  const UINT stride = 4u * static_cast<UINT>(size);
  const UINT bytes = stride * static_cast<UINT>(size);
  if (FAILED(source->CopyPixels(nullptr, stride, bytes, static_cast<BYTE*>(bits)))) return {};
  return bitmap;
}

// The bytes of one resource of this executable (empty when it is missing); they stay mapped for
// the whole run.
std::span<const std::byte> resource_bytes(const wchar_t* name, const wchar_t* type) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, name, type);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, info);
  if (bytes == nullptr || size == 0) return {};
  return {static_cast<const std::byte*>(bytes), size};
}

}  // namespace

HICON decode_icon_image(std::span<const std::byte> file, int size) {
  if (file.empty() || file.size() > UINT32_MAX || size <= 0 || size > 0x4000) return nullptr;

  ComRef<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(kWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                              factory.put_void()))) {
    return nullptr;
  }
  ComRef<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.put()))) return nullptr;
  // The stream only borrows the bytes; they live in the executable's image for the whole run.
  auto* data = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(file.data()));
  if (FAILED(stream->InitializeFromMemory(data, static_cast<DWORD>(file.size())))) return nullptr;

  ComRef<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put()))) {
    return nullptr;
  }
  ComRef<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.put()))) return nullptr;

  ComRef<IWICBitmapScaler> scaler;
  if (FAILED(factory->CreateBitmapScaler(scaler.put()))) return nullptr;
  if (FAILED(scaler->Initialize(frame.get(), static_cast<UINT>(size), static_cast<UINT>(size),
                                WICBitmapInterpolationModeCubic))) {
    return nullptr;
  }
  ComRef<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put()))) return nullptr;
  if (FAILED(converter->Initialize(scaler.get(), kPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }

  UniqueBitmap bitmap = render_to_dib(converter.get(), size);
  if (bitmap.get() == nullptr) return nullptr;
  // A 32-bit colour bitmap carries its own alpha, so the same bitmap serves as the mask.
  ICONINFO icon_info{};
  icon_info.fIcon = TRUE;
  icon_info.hbmMask = bitmap.get();
  icon_info.hbmColor = bitmap.get();
  return CreateIconIndirect(&icon_info);  // copies the bitmap; ours is deleted on return
}

UniqueIcon stock_error_icon() {
  auto icon =
      static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(32513), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  return UniqueIcon(icon, /*owned=*/false);
}

UniqueIcon make_window_icon(std::span<const std::byte> file, int size) {
  if (HICON icon = decode_icon_image(file, size); icon != nullptr) return UniqueIcon(icon);
  return stock_error_icon();
}

std::span<const std::byte> stored_icon_image() {
  const auto group = resource_bytes(MAKEINTRESOURCEW(OMBREL_IDI_PRODUCT), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  if (group.empty()) return {};
  // 256 × 256 is the largest an icon image can be, so the match is the largest image.
  auto* directory = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(group.data()));
  const int id = LookupIconIdFromDirectoryEx(directory, TRUE, 256, 256, LR_DEFAULTCOLOR);
  if (id <= 0) return {};
  return resource_bytes(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3) /* RT_ICON */);
}

}  // namespace ombrel::win32
