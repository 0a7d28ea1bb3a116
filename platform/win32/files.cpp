#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/wide.h"

namespace ombrel::platform {
namespace {

// Every open shares everything: a virus scanner or another copy of the program holding the file
// must not make our open, or a later delete, fail.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// WriteFile and ReadFile take a 32-bit count; stay well below it.
constexpr std::size_t kMaxIoChunk = 1u << 30;

HANDLE open_file(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(win32::to_wide(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
}

// Information about the regular file behind `handle`; nothing for folders and devices.
bool is_regular(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::uint64_t> regular_file_size(const std::string& path) {
  // Backup semantics lets the open succeed on a folder, so it can be told apart rather than
  // failing for an unrelated reason; reparse points are followed to their target.
  const UniqueFileHandle file(open_file(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !is_regular(file.get(), info)) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

Unexpected<std::uint32_t> last_error() { return unexpected(static_cast<std::uint32_t>(GetLastError())); }

FileResult<Done> write_handle_all(HANDLE handle, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxIoChunk));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return last_error();
    if (written == 0) return unexpected(std::uint32_t{ERROR_WRITE_FAULT});
    bytes = bytes.subspan(written);
  }
  return Done{};
}

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W exists only from Windows 10 build 20348 on (and not in Wine); importing it would
// stop the program from loading on older systems, so it is looked up at run time.
GetTempPath2WFn find_get_temp_path2() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) {
    return nullptr;
  }
  const FARPROC proc = GetProcAddress(kernel32, "GetTempPath2W");
  return reinterpret_cast<GetTempPath2WFn>(reinterpret_cast<void*>(proc));
}

}  // namespace

FileResult<std::string> temp_folder() {
  static const GetTempPath2WFn get_temp_path2 = find_get_temp_path2();
  std::wstring buffer(MAX_PATH + 1, L'\0');
  // The answer can grow between calls only in theory; two rounds cover a too-small first buffer.
  for (int round = 0; round < 2; ++round) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length =
        get_temp_path2 != nullptr ? get_temp_path2(size, buffer.data()) : GetTempPathW(size, buffer.data());
    if (length == 0) return last_error();
    if (length < size) {
      buffer.resize(length);
      std::string folder = win32::from_wide(buffer);
      if (folder.back() != '\\' && folder.back() != '/') {
        folder.push_back('\\');
      }
      return folder;
    }
    buffer.assign(length + 1, L'\0');
  }
  return unexpected(std::uint32_t{ERROR_INSUFFICIENT_BUFFER});
}

FileResult<Done> create_folder(const std::string& path) {
  const std::wstring wide = win32::to_wide(path);
  if (CreateDirectoryW(wide.c_str(), nullptr) != 0) return Done{};
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Done{};
  }
  return unexpected(static_cast<std::uint32_t>(error));
}

std::string join_path(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path.push_back('\\');
  }
  path.append(name);
  return path;
}

std::optional<std::uint64_t> file_size(const std::string& path) { return regular_file_size(path); }

bool is_regular_file(const std::string& path) { return regular_file_size(path).has_value(); }

FileResult<std::string> read_whole_file(const std::string& path, std::size_t max_bytes) {
  const UniqueFileHandle file(open_file(path, GENERIC_READ, OPEN_EXISTING));
  if (!file) return last_error();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!is_regular(file.get(), info)) return unexpected(std::uint32_t{ERROR_INVALID_FUNCTION});
  std::string content;
  char chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return last_error();
    if (got == 0) {
      return content;
    }
    if (got > max_bytes - content.size()) return unexpected(std::uint32_t{ERROR_FILE_TOO_LARGE});
    content.append(chunk, got);
  }
}

FileResult<Done> write_whole_file(const std::string& path, std::string_view content) {
  const UniqueFileHandle file(open_file(path, GENERIC_WRITE, CREATE_ALWAYS));
  if (!file) return last_error();
  return write_handle_all(file.get(), std::span<const char>(content.data(), content.size()));
}

FileResult<Done> delete_file(const std::string& path) {
  if (DeleteFileW(win32::to_wide(path).c_str()) == 0) return last_error();
  return Done{};
}

FileResult<Done> delete_file_if_present(const std::string& path) {
  if (DeleteFileW(win32::to_wide(path).c_str()) != 0) return Done{};
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Done{};
  return unexpected(static_cast<std::uint32_t>(error));
}

FileResult<WritableFile> WritableFile::open(const std::string& path, Mode mode) {
  const HANDLE handle = open_file(path, GENERIC_WRITE, mode == Mode::kTruncate ? CREATE_ALWAYS : OPEN_ALWAYS);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  return WritableFile(handle);
}

FileResult<Done> WritableFile::seek(std::uint64_t offset) {
  if (!is_open()) return unexpected(std::uint32_t{ERROR_INVALID_HANDLE});
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
    return unexpected(std::uint32_t{ERROR_NEGATIVE_SEEK});
  }
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (SetFilePointerEx(handle_.get(), distance, nullptr, FILE_BEGIN) == 0) return last_error();
  return Done{};
}

FileResult<Done> WritableFile::write_all(std::span<const char> bytes) {
  if (!is_open()) return unexpected(std::uint32_t{ERROR_INVALID_HANDLE});
  return write_handle_all(handle_.get(), bytes);
}

FileResult<Done> WritableFile::close() {
  if (!is_open()) return unexpected(std::uint32_t{ERROR_INVALID_HANDLE});
  if (CloseHandle(handle_.release()) == 0) return last_error();
  return Done{};
}

}  // namespace ombrel::platform
