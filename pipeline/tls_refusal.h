#pragma once
// What a refused server certificate said and which check refused it, carried in the failure so
// the support summary can tell a wrong clock from an inspecting proxy from a wrong server: the
// window shows all of them alike, as a network error. (PipelineError holds it as an optional.)
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace ombrel {

enum class CertificateCheck : std::uint8_t {
  kUnknownIssuer,  // its chain leads to none of the built-in roots
  kNotYetValid,    // this machine's clock is before the certificate's start
  kExpired,        // this machine's clock is past the certificate's end
  kNameMismatch,   // a good certificate, issued for another name than the host asked for
};

struct TlsRefusal {
  CertificateCheck check = CertificateCheck::kUnknownIssuer;
  std::string host;     // the host name that was asked for
  std::string subject;  // the certificate's common name, empty when it has none
  std::string issuer;   // its issuer's common name, likewise
  std::chrono::sys_seconds valid_from{};
  std::chrono::sys_seconds valid_to{};
  std::chrono::sys_seconds clock{};  // this machine's clock when the certificate was refused

  bool operator==(const TlsRefusal&) const = default;
};

}  // namespace ombrel
