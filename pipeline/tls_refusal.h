#pragma once
// What a refused server certificate said and which check refused it, carried in the failure so
// the support summary can tell a wrong clock from an inspecting proxy from a wrong server: the
// window shows all of them alike, as a network error.
#include <array>
#include <cstdint>
#include <memory>

namespace ombrel {

enum class CertificateCheck : std::uint8_t {
  kUnknownIssuer,  // its chain leads to none of the built-in roots
  kNotYetValid,    // this machine's clock is before the certificate's start
  kExpired,        // this machine's clock is past the certificate's end
  kNameMismatch,   // a good certificate, issued for another name than the host asked for
};

// A common name: NUL-terminated, empty when there is none; a longer name is cut at a character
// boundary.
using CertificateName = std::array<char, 64>;

// A UTC time as text, "2040-01-01 00:00:00" and its NUL: of fixed width, so the texts sort as
// the times do (years 1000 to 9999, all that certificates and clocks hold).
using UtcTime = std::array<char, 20>;

struct TlsRefusal {
  CertificateCheck check = CertificateCheck::kUnknownIssuer;
  CertificateName subject{};  // the certificate's common name
  CertificateName issuer{};   // its issuer's common name
  UtcTime valid_from{};
  UtcTime valid_to{};
  UtcTime clock{};  // this machine's clock when the certificate was refused

  bool operator==(const TlsRefusal&) const = default;
};

// A TlsRefusal or nothing, as std::optional would hold it, but on the heap. A failure is made,
// moved and copied all through the pipeline: held in place, as a std::optional, the facts cost
// the exe 2.3 KB of code at those places, behind a pointer 1.1 KB (measured on the i686 product
// build, see docs/exe-size.md).
class OptionalTlsRefusal {
 public:
  OptionalTlsRefusal() = default;
  OptionalTlsRefusal(const OptionalTlsRefusal& other);
  OptionalTlsRefusal(OptionalTlsRefusal&&) noexcept = default;
  OptionalTlsRefusal& operator=(const OptionalTlsRefusal& other);
  OptionalTlsRefusal& operator=(OptionalTlsRefusal&&) noexcept = default;
  ~OptionalTlsRefusal() = default;

  bool has_value() const { return facts_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  const TlsRefusal& operator*() const { return *facts_; }
  const TlsRefusal* operator->() const { return facts_.get(); }
  // Holds new facts (all defaults) and gives them to be filled in.
  TlsRefusal& emplace();
  void reset() { facts_.reset(); }

  // Equal when both hold nothing or equal facts.
  bool operator==(const OptionalTlsRefusal& other) const;

 private:
  std::unique_ptr<TlsRefusal> facts_;
};

}  // namespace ombrel
