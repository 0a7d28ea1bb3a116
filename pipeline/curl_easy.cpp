#include "pipeline/curl_easy.h"

#include <mutex>
#include <string_view>

#include "common/build_config.h"

namespace ombrel {

constexpr long kConnectTimeoutMs = 30'000;

EasyHandle new_easy_handle() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return EasyHandle(curl_easy_init());
}

CURLcode set_connection_options(CURL* easy, ServerChecks checks) {
  const std::string_view roots = built_in_ca_pem();
  curl_blob ca_blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_NOCOPY};

  CURLcode failure = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (failure == CURLE_OK) failure = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
#ifndef OMBREL_CURL_WITHOUT_PROXY
  // An empty proxy overrides http_proxy/https_proxy/all_proxy from the environment.
  set(CURLOPT_PROXY, "");
#endif
  set(CURLOPT_PROTOCOLS_STR, "https");
  set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  set(CURLOPT_SSL_VERIFYPEER, checks == ServerChecks::kNone ? 0L : 1L);
  set(CURLOPT_SSL_VERIFYHOST, checks == ServerChecks::kAll ? 2L : 0L);
  // Left at their defaults, the file and folder of the system bundle would be trusted as well.
  set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  // Schannel has no CA folder at all and says so; that is as good as clearing it.
  const CURLcode capath = curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  if (capath != CURLE_NOT_BUILT_IN && failure == CURLE_OK) failure = capath;
  set(CURLOPT_CAINFO_BLOB, &ca_blob);
#ifdef _WIN32
  // Our roots carry no revocation data Schannel could always reach; an unreachable CRL server
  // must not block the install.
  set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
#endif
  return failure;
}

}  // namespace ombrel
