// Small file helpers shared by the unit tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qv::test {

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace qv::test
