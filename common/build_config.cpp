#include "common/build_config.h"

#include <string>

#include "common/gunzip.h"

namespace ombrel {
namespace {
// kGeneratedBaseUrl, kGeneratedTestBuild, kGeneratedCaPemSize and kGeneratedCaPemGzip, written
// by the build from the CMake cache and resources/ca/mozilla-roots.pem.
#include "built_in_values.inc"

// The gzip stream the build made of the CA list, inflated. Empty if it does not inflate to
// exactly the recorded size, which leaves TLS with no trusted root: connections fail, none is
// trusted by mistake.
std::string inflate_ca_pem() {
  return gunzip_exact(kGeneratedCaPemGzip, kGeneratedCaPemSize).value_or(std::string());
}
}  // namespace

std::string_view built_in_base_url() { return {kGeneratedBaseUrl, sizeof(kGeneratedBaseUrl) - 1}; }

std::string_view built_in_ca_pem() {
  static const std::string pem = inflate_ca_pem();  // once, thread-safe
  return pem;
}

bool is_test_build() { return kGeneratedTestBuild; }

}  // namespace ombrel
