#include "common/build_config.h"

namespace ombrel {
namespace {
// kGeneratedBaseUrl, kGeneratedTestBuild and kGeneratedCaPem, written by the build from the
// CMake cache and resources/ca/mozilla-roots.pem.
#include "built_in_values.inc"
}  // namespace

std::string_view built_in_base_url() { return {kGeneratedBaseUrl, sizeof(kGeneratedBaseUrl) - 1}; }

std::string_view built_in_ca_pem() { return {kGeneratedCaPem, sizeof(kGeneratedCaPem) - 1}; }

bool is_test_build() { return kGeneratedTestBuild; }

}  // namespace ombrel
