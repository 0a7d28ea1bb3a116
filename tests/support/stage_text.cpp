#include "tests/support/stage_text.h"

#include <sstream>

namespace ombrel::test {

std::string stage_text(const InstallStage& stage) {
  struct Describe {
    std::string operator()(const FetchingManifest&) const { return "FetchingManifest"; }
    std::string operator()(const Downloading& stage) const {
      std::ostringstream text;
      text << "Downloading " << stage.fraction;
      return text.str();
    }
    std::string operator()(const Installing&) const { return "Installing"; }
    std::string operator()(const Launching&) const { return "Launching"; }
    std::string operator()(const Complete&) const { return "Complete"; }
    std::string operator()(const Failed& stage) const { return "Failed: " + stage.message; }
  };
  return std::visit(Describe{}, stage);
}

}  // namespace ombrel::test
