#include "pipeline/manifest_fetcher.h"

#include <algorithm>
#include <array>
#include <optional>

#include "common/build_config.h"
#include "common/utf8.h"
#include "pipeline/http_client.h"
#include "pipeline/manifest.h"
#include "platform/architecture.h"
#include "translations/message_keys.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

ManifestProblem make_problem(ManifestProblem::Kind kind, int status = 0, std::string json_error = {}) {
  return ManifestProblem{kind, status, std::move(json_error)};
}

Unexpected<ManifestProblem> problem(ManifestProblem::Kind kind) { return unexpected(make_problem(kind)); }

// The whole body, holding at most one byte beyond the limit at any time.
Expected<std::string, ManifestProblem> read_body(HttpResponse& response) {
  std::string body;
  std::array<char, 65536> buffer{};
  for (;;) {
    const std::size_t room = std::min(buffer.size(), kManifestBodyLimit + 1 - body.size());
    const std::optional<std::size_t> count = response.read(std::span<char>(buffer.data(), room));
    if (!count) return problem(ManifestProblem::Kind::kBodyRead);
    if (*count == 0) return body;
    body.append(buffer.data(), *count);
    if (body.size() > kManifestBodyLimit) return problem(ManifestProblem::Kind::kBodyRead);
  }
}

}  // namespace

std::string describe_manifest_problem(const ManifestProblem& problem) {
  switch (problem.kind) {
    case ManifestProblem::Kind::kHttpStatus:
      return tr_fmt(keys::kErrorManifestHttpFmt, std::to_string(problem.status));
    case ManifestProblem::Kind::kBadJson:
      return tr_fmt(keys::kErrorManifestBadJsonFmt, problem.json_error);
    case ManifestProblem::Kind::kMissingField:
      return tr(keys::kErrorManifestMissingField);
    case ManifestProblem::Kind::kTransport:
    case ManifestProblem::Kind::kBodyRead:
      break;
  }
  return tr(keys::kErrorNetwork);
}

Expected<std::string, ManifestProblem> installer_url_from_body(std::string_view body, std::string_view manifest_url) {
  const auto manifest = parse_manifest(utf8_lossy(body));
  if (!manifest) {
    return unexpected(make_problem(ManifestProblem::Kind::kBadJson, 0, manifest.error().to_string()));
  }
  const std::optional<std::string> chosen = choose_installer(*manifest);
  if (!chosen) return problem(ManifestProblem::Kind::kMissingField);
  return resolve_installer_url(manifest_url, *chosen);
}

StepResult<std::string> fetch_manifest(const ManifestFetchConfig& config) {
  const std::string_view arch_tag = config.arch_tag.empty() ? platform::detect_architecture() : config.arch_tag;
  const std::string url = manifest_url(config.base_url, arch_tag);
  auto fail = [](const ManifestProblem& why) { return step_failure(describe_manifest_problem(why)); };

  HttpRequest request;
  request.url = url;
  request.read_timeout = config.read_timeout;
  std::optional<HttpResponse> response = http_get(request);
  if (!response) return fail(make_problem(ManifestProblem::Kind::kTransport));
  if (response->status() >= 400) return fail(make_problem(ManifestProblem::Kind::kHttpStatus, response->status()));

  auto body = read_body(*response);
  if (!body) return fail(body.error());
  // The connection goes as soon as the bytes are in; the rest is pure work.
  response.reset();
  auto installer_url = installer_url_from_body(body.value(), url);
  if (!installer_url) return fail(installer_url.error());
  return std::move(installer_url).value();
}

}  // namespace ombrel
