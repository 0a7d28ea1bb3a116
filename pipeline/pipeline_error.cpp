#include "pipeline/pipeline_error.h"

#include <array>

#include "translations/translations.h"

namespace ombrel {

std::string_view failure_reason_name(FailureReason reason) {
  static constexpr std::array<std::string_view, 24> kNames = {"Transport",
                                                              "HttpStatus",
                                                              "UnexpectedStatus",
                                                              "RangeRejected",
                                                              "RangeMismatch",
                                                              "BodyRead",
                                                              "BodyTooShort",
                                                              "BodyTooLong",
                                                              "TempFolder",
                                                              "FileOpen",
                                                              "FileSeek",
                                                              "FileWrite",
                                                              "FileClose",
                                                              "SidecarWrite",
                                                              "ManifestHttpStatus",
                                                              "ManifestBadJson",
                                                              "ManifestMissingField",
                                                              "InstallerHold",
                                                              "Signature",
                                                              "InstallCancelled",
                                                              "InstallerLaunch",
                                                              "InstallTimeout",
                                                              "InstallerExit",
                                                              "UnexpectedFault"};
  const auto index = static_cast<std::size_t>(reason);
  return index < kNames.size() ? kNames[index] : "?";
}

std::string describe_failure(const PipelineError& error) {
  switch (error.reason) {
    case FailureReason::kManifestHttpStatus:
      return tr_fmt(keys::kErrorManifestHttpFmt, std::to_string(error.code));
    case FailureReason::kManifestBadJson:
      return tr_fmt(keys::kErrorManifestBadJsonFmt, error.detail);
    case FailureReason::kManifestMissingField:
      return tr(keys::kErrorManifestMissingField);
    case FailureReason::kInstallerHold:
    case FailureReason::kSignature:
      return tr(keys::kErrorInstallerUntrusted);
    case FailureReason::kInstallCancelled:
      return tr(keys::kErrorInstallCancelled);
    case FailureReason::kInstallerLaunch:
      return tr_fmt(keys::kErrorInstallerLaunchFmt, std::to_string(error.code));
    case FailureReason::kInstallTimeout:
      return tr_fmt(keys::kErrorInstallFailedFmt, "timed out after 30 minutes");
    case FailureReason::kInstallerExit:
      return tr_fmt(keys::kErrorInstallerExitFmt, std::to_string(error.code));
    case FailureReason::kUnexpectedFault:
      return tr_fmt(keys::kErrorUnexpectedFmt, error.detail);
    default:
      // Every cause of a failed download, and a manifest that never arrived whole: retrying
      // is what the user can do about any of them.
      return tr(keys::kErrorNetwork);
  }
}

}  // namespace ombrel
