#include "tools/manifest_check/check_resume.h"

#include <algorithm>
#include <ostream>
#include <span>
#include <vector>

#include "common/ascii_text.h"
#include "pipeline/http_client.h"
#include "pipeline/http_headers.h"

namespace ombrel::tools {
namespace {

bool contains_gzip(std::string_view value) { return ascii_lowercase(value).find("gzip") != std::string::npos; }

// The body's length: announced, or counted when the answer does not say (gzip, chunked).
std::optional<std::uint64_t> body_size(HttpResponse& response) {
  if (const std::uint64_t announced = parse_content_length(response.header("Content-Length")); announced != 0) {
    return announced;
  }
  std::vector<char> buffer(65536);
  std::uint64_t size = 0;
  for (;;) {
    const auto got = response.read(buffer);
    if (!got) return std::nullopt;
    if (*got == 0) return size;
    size += *got;
  }
}

}  // namespace

ResumeCheck check_resume(const std::string& url) {
  ResumeCheck check;
  HttpRequest request;
  request.url = url;
  auto full = http_get(request);
  if (!full) {
    check.reason = "the request failed before an answer arrived";
    return check;
  }
  if (full->status() >= 400) {
    check.reason = "the request was answered with status " + std::to_string(full->status());
    return check;
  }
  check.gzip = contains_gzip(full->header("Content-Encoding").value_or(""));
  const std::string etag = full->header("ETag").value_or("");
  const std::string last_modified = full->header("Last-Modified").value_or("");
  check.size = body_size(*full);
  if (!check.size) {
    check.reason = "the body broke off";
    return check;
  }
  check.transport_ok = true;

  // The installer resumes with a strong ETag, else the date; a weak ETag never matches.
  check.validator = (!etag.empty() && !etag.starts_with("W/")) ? etag : last_modified;
  if (check.validator.empty()) {
    check.reason = etag.empty() ? "no ETag and no Last-Modified" : "only a weak ETag and no Last-Modified";
    return check;
  }
  if (*check.size < 2) {
    check.reason = "the file is too small to ask for a part of it";
    return check;
  }

  const std::uint64_t offset = *check.size / 2;
  HttpRequest ranged;
  ranged.url = url;
  ranged.headers = {{"Range", "bytes=" + std::to_string(offset) + "-"}, {"If-Range", check.validator}};
  const auto part = http_get(ranged);
  if (!part) {
    check.transport_ok = false;
    check.reason = "the range request failed before an answer arrived";
    return check;
  }
  if (part->status() != 206) {
    check.reason = "a range request with If-Range got status " + std::to_string(part->status());
    return check;
  }
  const std::string content_range = part->header("Content-Range").value_or("");
  const std::optional<ContentRange> range = parse_content_range(content_range);
  if (!range || range->first != offset || (range->complete && *range->complete != *check.size)) {
    check.reason =
        "the 206 answer's Content-Range \"" + content_range + "\" does not continue at byte " + std::to_string(offset);
    return check;
  }
  check.resumable = true;
  return check;
}

std::string describe(const ResumeCheck& check) {
  std::string line;
  if (check.resumable) {
    line = "resume supported (206 with If-Range " + check.validator + ")";
  } else if (!check.transport_ok) {
    line = "resume not checked (" + check.reason + ")";
  } else {
    line = "resume not supported (" + check.reason + ")";
  }
  line += ", size " + (check.size ? std::to_string(*check.size) + " bytes" : std::string("unknown"));
  line += check.gzip ? ", gzip yes" : ", gzip no";
  return line;
}

int run_check_resume(const std::string& url, std::ostream& out) {
  const ResumeCheck check = check_resume(url);
  out << describe(check) << '\n';
  return check.resumable ? 0 : 1;
}

}  // namespace ombrel::tools
