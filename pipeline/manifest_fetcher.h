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
#include "pipeline/run_record.h"

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

// From the body bytes as received to the installer URL: lossy UTF-8, parse, choice, resolution
// against `manifest_url`. Fails with kManifestBadJson or kManifestMissingField.
StepResult<std::string> installer_url_from_body(std::string_view body, std::string_view manifest_url);

// One GET of the manifest and the installer URL it names, or why not: kTransport, kBodyRead,
// kBodyTooLong (past kManifestBodyLimit), kManifestHttpStatus and the two of
// installer_url_from_body. With the default config: the built-in host and this machine's
// architecture. The manifest URL goes into `record`.
StepResult<std::string> fetch_manifest(const ManifestFetchConfig& config, RunRecord& record);

}  // namespace ombrel
