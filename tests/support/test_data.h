#pragma once
#include <filesystem>
#include <string>

namespace ombrel::test {

// Folder of the committed test data (tests/data), given to every test through OMBREL_TEST_DATA_DIR.
std::filesystem::path test_data_dir();

// Whole file as bytes; fails the current test when the file cannot be read.
std::string read_test_file(const std::filesystem::path& path);

}  // namespace ombrel::test
