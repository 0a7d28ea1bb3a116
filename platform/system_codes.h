#pragma once
// The system error codes the pipeline acts on, numbered as Windows numbers them. The POSIX back
// end reports an errno under the matching number (platform/posix/system_code.cpp), so the same
// decision code runs and is tested on both.
#include <cstdint>

namespace ombrel::platform::codes {

inline constexpr std::uint32_t kFileNotFound = 2;          // ERROR_FILE_NOT_FOUND, ENOENT
inline constexpr std::uint32_t kPathNotFound = 3;          // ERROR_PATH_NOT_FOUND, ENOTDIR
inline constexpr std::uint32_t kAccessDenied = 5;          // ERROR_ACCESS_DENIED, EACCES, EPERM
inline constexpr std::uint32_t kSharingViolation = 32;     // ERROR_SHARING_VIOLATION, ETXTBSY, EBUSY
inline constexpr std::uint32_t kLockViolation = 33;        // ERROR_LOCK_VIOLATION
inline constexpr std::uint32_t kHandleDiskFull = 39;       // ERROR_HANDLE_DISK_FULL
inline constexpr std::uint32_t kAlreadyExists = 183;       // ERROR_ALREADY_EXISTS, EEXIST
inline constexpr std::uint32_t kDiskFull = 112;            // ERROR_DISK_FULL, ENOSPC
inline constexpr std::uint32_t kVirusInfected = 225;       // ERROR_VIRUS_INFECTED
inline constexpr std::uint32_t kVirusDeleted = 226;        // ERROR_VIRUS_DELETED
inline constexpr std::uint32_t kNotTheHeldFile = 1006;     // ERROR_FILE_INVALID: another file was started
inline constexpr std::uint32_t kCancelled = 1223;          // ERROR_CANCELLED
inline constexpr std::uint32_t kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, EDQUOT

// Windows refuses to start an executable that security software is still reading as access
// denied; a POSIX EACCES is a permission, which no wait changes.
#ifdef _WIN32
inline constexpr bool kAccessDeniedMayBeAHold = true;
#else
inline constexpr bool kAccessDeniedMayBeAHold = false;
#endif

}  // namespace ombrel::platform::codes
