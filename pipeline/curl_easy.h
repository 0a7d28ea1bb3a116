#pragma once
// What the two files that talk to libcurl (http_client.cpp, certificate_probe.cpp) share: the
// owner of an easy handle and the settings every connection of this program is made with, so
// the handshake that reads a refused certificate again checks it exactly as the request did.
#include <curl/curl.h>

#include <memory>

namespace ombrel {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// A new easy handle (libcurl initialised once per process first); empty when libcurl has none.
EasyHandle new_easy_handle();

// How much of the server's certificate a connection checks. Only the certificate probe turns
// checks off, on a connection that sends no request.
enum class ServerChecks {
  kAll,        // chain to a built-in root, dates, and the host name
  kChainOnly,  // chain and dates, not the name
  kNone,
};

// HTTPS only, no proxy (an empty one overrides the environment's), 30 s to connect and shake
// hands, TLS 1.2 or later, the built-in roots and no others. CURLE_OK, or the first option
// libcurl refused; none is set after it.
CURLcode set_connection_options(CURL* easy, ServerChecks checks);

}  // namespace ombrel
