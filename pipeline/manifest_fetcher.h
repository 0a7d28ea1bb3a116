#pragma once
// The manifest step: fetch this machine's manifest from the distribution host and work out the
// installer URL it names. The network half is fetch_manifest; everything after the bytes have
// arrived is a pure function, shared with the manifest-check tool and testable without a host.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/build_config.h"
#include "common/expected.h"
#include "pipeline/pipeline_error.h"

namespace ombrel {

// Longest manifest body accepted; one byte more fails the step.
inline constexpr std::size_t kManifestBodyLimit = 10'485'760;

struct ManifestFetchConfig {
  // The distribution host, an https:// URL ending in "/".
  std::string base_url{built_in_base_url()};
  // "x64", "arm64" or "x86"; names the manifest to fetch. Empty: this machine's, probed once
  // per process.
  std::string arch_tag;
  // Longest wait for the next bytes of the answer; a stalled host fails the step as a network
  // error instead of hanging the run.
  std::chrono::milliseconds read_timeout{std::chrono::seconds(30)};
};

// Why the step failed, before it is put into words.
struct ManifestProblem {
  enum class Kind {
    kTransport,     // no answer: name resolution, connection, TLS, time-out, redirects
    kHttpStatus,    // an answer with status 400 or above (`status`)
    kBodyRead,      // the body broke off, or passed the limit
    kBadJson,       // not a manifest document (`json_error`: description at line, column)
    kMissingField,  // no installer member, or the chosen one empty
  };
  Kind kind = Kind::kTransport;
  int status = 0;
  std::string json_error;
};

// The user's text for a problem, from the translation tables.
std::string describe_manifest_problem(const ManifestProblem& problem);

// From the body bytes as received to the installer URL: lossy UTF-8, parse, choice, resolution
// against `manifest_url`.
Expected<std::string, ManifestProblem> installer_url_from_body(std::string_view body, std::string_view manifest_url);

// One GET of the manifest and the installer URL it names, or the failure text. With the
// default config: the built-in host and this machine's architecture.
StepResult<std::string> fetch_manifest(const ManifestFetchConfig& config);

}  // namespace ombrel
