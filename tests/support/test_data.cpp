#include "tests/support/test_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ombrel::test {

std::filesystem::path test_data_dir() {
  const char* dir = std::getenv("OMBREL_TEST_DATA_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::path("tests/data");
}

std::string read_test_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path.string();
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace ombrel::test
