#pragma once
// A blocking HTTPS GET over libcurl, the same code on Windows (Schannel) and Linux (OpenSSL).
// One client per request; the server certificate is checked against the built-in root list only.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/expected.h"
#include "pipeline/pipeline_error.h"

namespace ombrel {

struct HttpRequest {
  std::string url;
  // Extra request headers by name, e.g. {"Range", "bytes=1000-"}. Without a Range header the
  // client asks for gzip and decodes it transparently.
  std::vector<std::pair<std::string, std::string>> headers;
  // Longest wait for the next byte of the answer; a stall this long fails the request.
  std::chrono::milliseconds read_timeout{std::chrono::seconds(30)};
};

class HttpResponse {
 public:
  class Impl;
  explicit HttpResponse(std::unique_ptr<Impl> impl);
  HttpResponse(HttpResponse&&) noexcept;
  HttpResponse& operator=(HttpResponse&&) noexcept;
  ~HttpResponse();

  // Status of the final answer after redirects.
  int status() const;
  // Header of the final answer, by case-insensitive name. Content-Length is not reported for a
  // gzip-encoded answer (the decoded length differs).
  std::optional<std::string> header(std::string_view name) const;
  // Reads the next bytes of the (decoded) body into buffer: the count, 0 at the end of the body,
  // or kBodyRead with libcurl's code when the transfer failed (connection lost, body shorter
  // than announced; a stall is CURLE_OPERATION_TIMEDOUT). A failure sticks.
  // Fills the whole buffer unless the body ends or fails first (bytes that came before a
  // failure are returned, the failure with the next read); only the time spent waiting inside
  // read() counts against the read time-out, which is the longest wait for the next byte.
  // Pass a non-empty buffer: an empty one reads nothing and gives 0.
  Expected<std::size_t, PipelineError> read(std::span<char> buffer);

 private:
  std::unique_ptr<Impl> impl_;
};

// Sends the request and waits for the head of the final answer. A transport failure is
// kTransport with libcurl's code: name resolution, connection, TLS, time-out (30 s to connect,
// then read_timeout without a byte: CURLE_OPERATION_TIMEDOUT), more than 5 redirects, a
// non-https URL or redirect, a header value holding a line break (CURLE_BAD_FUNCTION_ARGUMENT).
// A refused server certificate (CURLE_PEER_FAILED_VERIFICATION) also carries, in tls_refusal,
// what the certificate said and which check refused it, learnt over handshakes that send no
// request.
Expected<HttpResponse, PipelineError> http_get(const HttpRequest& request);

}  // namespace ombrel
