#include "pipeline/certificate_probe.h"

#include <curl/curl.h>

#include <memory>
#include <string_view>
#include <vector>

#include "common/ascii_text.h"
#include "pipeline/certificate_text.h"
#include "pipeline/curl_easy.h"

namespace ombrel {
namespace {

// The fields of one certificate as the back end wrote them.
struct CertificateFields {
  std::string subject;
  std::string issuer;
  std::string start;
  std::string expire;
};

std::vector<CertificateFields> certificate_fields(CURL* easy) {
  std::vector<CertificateFields> certificates;
  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr) return certificates;
  for (int i = 0; i < info->num_of_certs; ++i) {
    CertificateFields& fields = certificates.emplace_back();
    // "Name:value" lines; OpenSSL writes "Start date", libcurl's own reader "Start Date".
    for (const curl_slist* item = info->certinfo[i]; item != nullptr; item = item->next) {
      const std::string_view line(item->data);
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      const std::string_view name = line.substr(0, colon);
      const std::string_view value = line.substr(colon + 1);
      if (equals_ignore_ascii_case(name, "Subject")) fields.subject = value;
      if (equals_ignore_ascii_case(name, "Issuer")) fields.issuer = value;
      if (equals_ignore_ascii_case(name, "Start date")) fields.start = value;
      if (equals_ignore_ascii_case(name, "Expire date")) fields.expire = value;
    }
  }
  return certificates;
}

// The server's own certificate: the one that issued none of the others. Schannel lists them in
// the order of its certificate store, not of the chain.
const CertificateFields* server_certificate(const std::vector<CertificateFields>& certificates) {
  for (const CertificateFields& candidate : certificates) {
    bool issued_another = false;
    for (const CertificateFields& other : certificates) {
      if (&other != &candidate && other.issuer == candidate.subject) issued_another = true;
    }
    if (!issued_another) return &candidate;
  }
  return certificates.empty() ? nullptr : &certificates.front();
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string host_of(const std::string& url) {
  const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  char* host = nullptr;
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
    return {};
  }
  std::string text(host);
  curl_free(host);
  return text;
}

// One handshake with the host of `url` that sends no request: CURLE_OK when it completed, and
// then, with `certificates`, what the back end read from the server's certificates.
CURLcode handshake(const std::string& url, ServerChecks checks, std::vector<CertificateFields>* certificates) {
  const EasyHandle easy = new_easy_handle();
  if (!easy) return CURLE_FAILED_INIT;
  CURLcode result = set_connection_options(easy.get(), checks);
  auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) result = curl_easy_setopt(easy.get(), option, value);
  };
  set(CURLOPT_URL, url.c_str());
  // Connect and shake hands, then stop.
  set(CURLOPT_CONNECT_ONLY, 1L);
  if (certificates != nullptr) set(CURLOPT_CERTINFO, 1L);
  if (result == CURLE_OK) result = curl_easy_perform(easy.get());
  if (result == CURLE_OK && certificates != nullptr) *certificates = certificate_fields(easy.get());
  return result;
}

}  // namespace

std::optional<TlsRefusal> examine_refused_certificate(const std::string& url, std::chrono::sys_seconds clock) {
  std::vector<CertificateFields> certificates;
  if (handshake(url, ServerChecks::kNone, &certificates) != CURLE_OK) return std::nullopt;
  const CertificateFields* server = server_certificate(certificates);
  if (server == nullptr) return std::nullopt;
  const auto valid_from = parse_certificate_time(server->start);
  const auto valid_to = parse_certificate_time(server->expire);
  if (!valid_from || !valid_to) return std::nullopt;

  TlsRefusal refusal{CertificateCheck::kUnknownIssuer,
                     host_of(url),
                     certificate_common_name(server->subject),
                     certificate_common_name(server->issuer),
                     *valid_from,
                     *valid_to,
                     clock};
  // The dates first: with a wrong clock every certificate fails, whatever else is wrong with it.
  if (clock < *valid_from) {
    refusal.check = CertificateCheck::kNotYetValid;
  } else if (clock > *valid_to) {
    refusal.check = CertificateCheck::kExpired;
  } else {
    const CURLcode chain = handshake(url, ServerChecks::kChainOnly, nullptr);
    if (chain == CURLE_OK) {
      refusal.check = CertificateCheck::kNameMismatch;
    } else if (chain != CURLE_PEER_FAILED_VERIFICATION) {
      return std::nullopt;  // the server went away in between
    }
  }
  return refusal;
}

}  // namespace ombrel
