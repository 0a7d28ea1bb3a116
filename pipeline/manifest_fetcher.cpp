#include "pipeline/manifest_fetcher.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/build_config.h"
#include "common/utf8.h"
#include "pipeline/http_client.h"
#include "pipeline/manifest.h"
#include "platform/architecture.h"

namespace ombrel {
namespace {

// The whole body, holding at most one byte beyond the limit at any time.
StepResult<std::string> read_body(HttpResponse& response) {
  std::string body;
  std::array<char, 65536> buffer{};
  for (;;) {
    const std::size_t room = std::min(buffer.size(), kManifestBodyLimit + 1 - body.size());
    auto count = response.read(std::span<char>(buffer.data(), room));
    if (!count) return unexpected(std::move(count).error());
    if (*count == 0) return body;
    body.append(buffer.data(), *count);
    if (body.size() > kManifestBodyLimit) return step_failure(FailureReason::kBodyTooLong);
  }
}

}  // namespace

StepResult<std::string> installer_url_from_body(std::string_view body, std::string_view manifest_url) {
  const auto manifest = parse_manifest(utf8_lossy(body));
  if (!manifest) return step_failure(FailureReason::kManifestBadJson, 0, manifest.error().to_string());
  const std::optional<std::string> chosen = choose_installer(*manifest);
  if (!chosen) return step_failure(FailureReason::kManifestMissingField);
  return resolve_installer_url(manifest_url, *chosen);
}

StepResult<std::string> fetch_manifest(const ManifestFetchConfig& config, RunRecord& record) {
  const std::string_view arch_tag = config.arch_tag.empty() ? platform::detect_architecture() : config.arch_tag;
  record.manifest_url = manifest_url(config.base_url, arch_tag);

  HttpRequest request;
  request.url = record.manifest_url;
  request.read_timeout = config.read_timeout;
  StepResult<std::string> body = [&]() -> StepResult<std::string> {
    // The connection goes as soon as the bytes are in; the rest is pure work.
    auto response = http_get(request);
    if (!response) return unexpected(std::move(response).error());
    const int status = response->status();
    if (status >= 400) return step_failure(FailureReason::kManifestHttpStatus, static_cast<std::uint32_t>(status));
    return read_body(*response);
  }();
  if (!body) return unexpected(std::move(body).error());
  return installer_url_from_body(*body, record.manifest_url);
}

}  // namespace ombrel
