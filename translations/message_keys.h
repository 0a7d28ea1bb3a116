#pragma once
// The closed set of message keys. Every translation table carries all of them, in this order;
// keys ending in "_FMT" name templates that take one argument (see format_message.h).
#include <array>
#include <string_view>

namespace ombrel {

using MessageKey = std::string_view;

namespace keys {

inline constexpr MessageKey kWindowTitle = "WINDOW_TITLE";
inline constexpr MessageKey kTitleHeading = "TITLE_HEADING";
inline constexpr MessageKey kStatusReady = "STATUS_READY";
inline constexpr MessageKey kStatusFetchingManifest = "STATUS_FETCHING_MANIFEST";
inline constexpr MessageKey kStatusDownloadingFmt = "STATUS_DOWNLOADING_FMT";
inline constexpr MessageKey kStatusInstalling = "STATUS_INSTALLING";
inline constexpr MessageKey kStatusLaunching = "STATUS_LAUNCHING";
inline constexpr MessageKey kStatusComplete = "STATUS_COMPLETE";
inline constexpr MessageKey kButtonRetry = "BUTTON_RETRY";
inline constexpr MessageKey kErrorInvalidUrlFmt = "ERROR_INVALID_URL_FMT";
inline constexpr MessageKey kErrorNoAppFound = "ERROR_NO_APP_FOUND";
inline constexpr MessageKey kErrorNoInstallFound = "ERROR_NO_INSTALL_FOUND";
inline constexpr MessageKey kErrorInstallFailedFmt = "ERROR_INSTALL_FAILED_FMT";
inline constexpr MessageKey kErrorNetwork = "ERROR_NETWORK";
inline constexpr MessageKey kErrorInstallCancelled = "ERROR_INSTALL_CANCELLED";
inline constexpr MessageKey kErrorParseDmgMount = "ERROR_PARSE_DMG_MOUNT";
inline constexpr MessageKey kErrorManifestBadJsonFmt = "ERROR_MANIFEST_BAD_JSON_FMT";
inline constexpr MessageKey kErrorManifestMissingField = "ERROR_MANIFEST_MISSING_FIELD";
inline constexpr MessageKey kErrorManifestHttpFmt = "ERROR_MANIFEST_HTTP_FMT";
inline constexpr MessageKey kErrorDownloadHttpFmt = "ERROR_DOWNLOAD_HTTP_FMT";
inline constexpr MessageKey kErrorDiskWrite = "ERROR_DISK_WRITE";
inline constexpr MessageKey kErrorInstallerLaunchFmt = "ERROR_INSTALLER_LAUNCH_FMT";
inline constexpr MessageKey kErrorInstallerExitFmt = "ERROR_INSTALLER_EXIT_FMT";
inline constexpr MessageKey kErrorComInit = "ERROR_COM_INIT";
inline constexpr MessageKey kErrorUnexpectedFmt = "ERROR_UNEXPECTED_FMT";
inline constexpr MessageKey kErrorInstallerUntrusted = "ERROR_INSTALLER_UNTRUSTED";

}  // namespace keys

// All keys in table order: a key's position here is its position in every table. Seven of them no
// code here sends (STATUS_READY and six errors of the product's other installers); every table
// still carries every key, so they stay.
inline constexpr std::array<MessageKey, 26> kAllMessageKeys = {
    keys::kWindowTitle,
    keys::kTitleHeading,
    keys::kStatusReady,
    keys::kStatusFetchingManifest,
    keys::kStatusDownloadingFmt,
    keys::kStatusInstalling,
    keys::kStatusLaunching,
    keys::kStatusComplete,
    keys::kButtonRetry,
    keys::kErrorInvalidUrlFmt,
    keys::kErrorNoAppFound,
    keys::kErrorNoInstallFound,
    keys::kErrorInstallFailedFmt,
    keys::kErrorNetwork,
    keys::kErrorInstallCancelled,
    keys::kErrorParseDmgMount,
    keys::kErrorManifestBadJsonFmt,
    keys::kErrorManifestMissingField,
    keys::kErrorManifestHttpFmt,
    keys::kErrorDownloadHttpFmt,
    keys::kErrorDiskWrite,
    keys::kErrorInstallerLaunchFmt,
    keys::kErrorInstallerExitFmt,
    keys::kErrorComInit,
    keys::kErrorUnexpectedFmt,
    keys::kErrorInstallerUntrusted,
};

}  // namespace ombrel
