#pragma once
// What one run did, kept in memory for the support summary: the URLs, every download attempt,
// the signature verdict, the installer's exit code and the application found. Nothing of it is
// written to disk.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/pipeline_error.h"
#include "platform/publisher_signature.h"

namespace ombrel {

struct AttemptRecord {
  std::uint64_t range_start = 0;         // first byte asked for; 0 when the whole file was
  int http_status = 0;                   // 0 when no answer arrived
  std::optional<PipelineError> failure;  // nothing when the attempt finished the download
  std::uint64_t bytes_received = 0;      // body bytes written by this attempt
  double seconds = 0;
};

struct RunRecord {
  std::string manifest_url;
  std::string installer_url;
  std::vector<AttemptRecord> attempts;
  std::optional<platform::SignatureVerdict> signature;  // when the build checks one
  std::optional<std::uint32_t> installer_exit_code;     // when the installer ran to its end
  bool app_searched = false;
  std::string app_path;                   // empty when the search found nothing
  std::optional<PipelineError> failure;   // how the run ended, when it failed
};

}  // namespace ombrel
