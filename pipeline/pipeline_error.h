#pragma once
// The failure of a pipeline step or download attempt: why it failed and the number that says
// more, kept as data until describe_failure turns it into the user's text, so tests and the
// support summary can tell causes apart that the window shows alike.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "pipeline/tls_refusal.h"
#include "translations/message_keys.h"

namespace ombrel {

// Every reason has its row in kFailureReasons below (its name, what `PipelineError::code` holds
// and the user's text); the row's comment here says when it is given.
enum class FailureReason : std::uint8_t {
  kTransport,             // no answer: name, connection, TLS, time-out, redirects
  kHttpStatus,            // a download answer of 400 or above other than 416
  kUnexpectedStatus,      // a download answer below 400 that is neither 200 nor 206
  kRangeRejected,         // 416 to a range request: the partial file is dropped
  kRangeMismatch,         // a 206 that does not continue the partial file
  kBodyRead,              // the body broke off or stalled
  kBodyTooShort,          // the body ended before its announced end
  kBodyTooLong,           // more bytes than announced, or than a body may have
  kTempFolder,            // the system names no temporary folder, or it cannot be created
  kFileOpen,              // the installer file could not be opened, positioned, written, closed
  kFileSeek,              //
  kFileWrite,             //
  kFileClose,             //
  kDiskFull,              // the disk is full: no further attempt can succeed
  kSidecarWrite,          // the validators could not be recorded or the old ones removed
  kManifestHttpStatus,    // the manifest answer had status 400 or above
  kManifestBadJson,       // not a manifest document (`detail`: description, line, column)
  kManifestMissingField,  // no installer member, or the chosen one empty
  kInstallerHold,         // the checked file could not be held against change
  kInstallerRemoved,      // the downloaded file was gone when it was to be checked
  kSignature,             // not the publisher's signature (`detail`: signer)
  kInstallCancelled,      // the user refused the installer's start
  kInstallerLaunch,       // the installer could not be started
  kInstallerBlocked,      // the system would not start it: gone, or held to be infected
  kInstallTimeout,        // still running at the time limit
  kInstallerExit,         // it ended with another exit code than 0
  kUnexpectedFault,       // an exception no step expected (`detail`: its text)
  kCount,                 // not a reason: the number of reasons, and it stays last
};

struct PipelineError {
  FailureReason reason = FailureReason::kUnexpectedFault;
  std::uint32_t code = 0;
  std::string detail;
  OptionalTlsRefusal tls_refusal{};  // kTransport: a refused server certificate, when it could be read

  bool operator==(const PipelineError&) const = default;
};

template <class T>
using StepResult = Expected<T, PipelineError>;

inline Unexpected<PipelineError> step_failure(FailureReason reason, std::uint32_t code = 0, std::string detail = {}) {
  return Unexpected<PipelineError>{PipelineError{reason, code, std::move(detail)}};
}

// What `PipelineError::code` holds.
enum class FailureCode : std::uint8_t {
  kNone,          // nothing
  kCurl,          // libcurl's CURLcode
  kHttpStatus,    // the answer's HTTP status
  kSystem,        // the system's error code (Windows: GetLastError; POSIX: errno)
  kTrustStatus,   // the signature check's HRESULT or trust status
  kBytesMissing,  // how many bytes the body lacked
  kMinutes,       // the time limit that ran out
  kExitCode,      // the installer's exit code
};

struct FailureReasonRow {
  FailureReason reason;
  std::string_view name;  // the reason's name without its "k", for the summary and test output
  FailureCode code;
  MessageKey message;     // a "_FMT" text takes the code in decimal, or `detail` when there is none
  std::string_view note;  // a plain English hint for the support summary; mostly empty
};

inline constexpr std::string_view kRemovedByOtherProgram =
    "removed or blocked by another program, typically security software";

// One row per reason, in the enum's order. Every download failure reads as the network text:
// retrying is what the user can do about it; only a full disk is told as what it is.
inline constexpr std::array<FailureReasonRow, static_cast<std::size_t>(FailureReason::kCount)> kFailureReasons = {{
    {FailureReason::kTransport, "Transport", FailureCode::kCurl, keys::kErrorNetwork, {}},
    {FailureReason::kHttpStatus, "HttpStatus", FailureCode::kHttpStatus, keys::kErrorNetwork, {}},
    {FailureReason::kUnexpectedStatus, "UnexpectedStatus", FailureCode::kHttpStatus, keys::kErrorNetwork, {}},
    {FailureReason::kRangeRejected, "RangeRejected", FailureCode::kHttpStatus, keys::kErrorNetwork, {}},
    {FailureReason::kRangeMismatch, "RangeMismatch", FailureCode::kHttpStatus, keys::kErrorNetwork, {}},
    {FailureReason::kBodyRead, "BodyRead", FailureCode::kCurl, keys::kErrorNetwork, {}},
    {FailureReason::kBodyTooShort, "BodyTooShort", FailureCode::kBytesMissing, keys::kErrorNetwork, {}},
    {FailureReason::kBodyTooLong, "BodyTooLong", FailureCode::kHttpStatus, keys::kErrorNetwork, {}},
    {FailureReason::kTempFolder, "TempFolder", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kFileOpen, "FileOpen", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kFileSeek, "FileSeek", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kFileWrite, "FileWrite", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kFileClose, "FileClose", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kDiskFull, "DiskFull", FailureCode::kSystem, keys::kErrorDiskWrite, {}},
    {FailureReason::kSidecarWrite, "SidecarWrite", FailureCode::kSystem, keys::kErrorNetwork, {}},
    {FailureReason::kManifestHttpStatus,
     "ManifestHttpStatus",
     FailureCode::kHttpStatus,
     keys::kErrorManifestHttpFmt,
     {}},
    {FailureReason::kManifestBadJson, "ManifestBadJson", FailureCode::kNone, keys::kErrorManifestBadJsonFmt, {}},
    {FailureReason::kManifestMissingField,
     "ManifestMissingField",
     FailureCode::kNone,
     keys::kErrorManifestMissingField,
     {}},
    {FailureReason::kInstallerHold, "InstallerHold", FailureCode::kSystem, keys::kErrorInstallerUntrusted, {}},
    {FailureReason::kInstallerRemoved, "InstallerRemoved", FailureCode::kSystem, keys::kErrorInstallerUntrusted,
     kRemovedByOtherProgram},
    {FailureReason::kSignature, "Signature", FailureCode::kTrustStatus, keys::kErrorInstallerUntrusted, {}},
    {FailureReason::kInstallCancelled, "InstallCancelled", FailureCode::kSystem, keys::kErrorInstallCancelled, {}},
    {FailureReason::kInstallerLaunch, "InstallerLaunch", FailureCode::kSystem, keys::kErrorInstallerLaunchFmt, {}},
    {FailureReason::kInstallerBlocked, "InstallerBlocked", FailureCode::kSystem, keys::kErrorInstallerLaunchFmt,
     kRemovedByOtherProgram},
    {FailureReason::kInstallTimeout, "InstallTimeout", FailureCode::kMinutes, keys::kErrorInstallFailedFmt, {}},
    {FailureReason::kInstallerExit, "InstallerExit", FailureCode::kExitCode, keys::kErrorInstallerExitFmt, {}},
    {FailureReason::kUnexpectedFault, "UnexpectedFault", FailureCode::kNone, keys::kErrorUnexpectedFmt, {}},
}};

// A reason without its row, or rows out of order, does not compile.
constexpr bool failure_rows_complete() {
  for (std::size_t i = 0; i < kFailureReasons.size(); ++i) {
    if (kFailureReasons[i].reason != static_cast<FailureReason>(i) || kFailureReasons[i].name.empty()) return false;
  }
  return true;
}
static_assert(failure_rows_complete(), "every FailureReason needs its row in kFailureReasons, in the enum's order");

constexpr const FailureReasonRow& failure_row(FailureReason reason) {
  const auto index = static_cast<std::size_t>(reason);
  return kFailureReasons[index < kFailureReasons.size() ? index : kFailureReasons.size() - 1];
}

// The reason's name without its "k", e.g. "BodyRead", for the support summary and test output.
constexpr std::string_view failure_reason_name(FailureReason reason) { return failure_row(reason).name; }

// The one place a failure becomes the user's text, in the user's language.
std::string describe_failure(const PipelineError& error);

}  // namespace ombrel
