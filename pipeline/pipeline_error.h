#pragma once
// The failure of a pipeline step or download attempt: why it failed and the number that says
// more, kept as data until describe_failure turns it into the user's text, so tests and the
// support summary can tell causes apart that the window shows alike.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "pipeline/tls_refusal.h"

namespace ombrel {

// What `PipelineError::code` holds is named after each value.
enum class FailureReason : std::uint8_t {
  kTransport,             // no answer: name, connection, TLS, time-out, redirects (CURLcode)
  kHttpStatus,            // a download answer of 400 or above other than 416 (HTTP status)
  kUnexpectedStatus,      // a download answer below 400 that is neither 200 nor 206 (HTTP status)
  kRangeRejected,         // 416 to a range request: the partial file is dropped (HTTP status)
  kRangeMismatch,         // a 206 that does not continue the partial file (HTTP status)
  kBodyRead,              // the body broke off or stalled (CURLcode)
  kBodyTooShort,          // the body ended before its announced end (bytes missing)
  kBodyTooLong,           // more bytes than announced, or than a body may have (HTTP status)
  kTempFolder,            // the system names no temporary folder
  kFileOpen,              // the installer file (system error code, for this and the next four)
  kFileSeek,              //
  kFileWrite,             //
  kFileClose,             //
  kSidecarWrite,          // the validators could not be recorded or the old ones removed
  kManifestHttpStatus,    // the manifest answer had status 400 or above (HTTP status)
  kManifestBadJson,       // not a manifest document (`detail`: description, line, column)
  kManifestMissingField,  // no installer member, or the chosen one empty
  kInstallerHold,         // the checked file could not be held against change (system error code)
  kSignature,             // not the publisher's signature (system code; `detail`: signer)
  kInstallCancelled,      // the user refused the installer's start (system error code)
  kInstallerLaunch,       // the installer could not be started (system error code)
  kInstallTimeout,        // still running at the time limit (minutes)
  kInstallerExit,         // it ended with another exit code than 0 (exit code)
  kUnexpectedFault,       // an exception no step expected (`detail`: its text)
};

struct PipelineError {
  FailureReason reason = FailureReason::kUnexpectedFault;
  std::uint32_t code = 0;
  std::string detail;
  std::optional<TlsRefusal> tls_refusal = std::nullopt;  // kTransport: a refused server certificate, if read

  bool operator==(const PipelineError&) const = default;
};

template <class T>
using StepResult = Expected<T, PipelineError>;

inline Unexpected<PipelineError> step_failure(FailureReason reason, std::uint32_t code = 0, std::string detail = {}) {
  return Unexpected<PipelineError>{PipelineError{reason, code, std::move(detail)}};
}

// The reason's name without its "k", e.g. "BodyRead", for the support summary and test output.
std::string_view failure_reason_name(FailureReason reason);

// The one place a failure becomes the user's text, in the user's language. Everything the
// download ends with reads as tr("ERROR_NETWORK"), as does a manifest that never arrived.
std::string describe_failure(const PipelineError& error);

}  // namespace ombrel
