// What a fuzz target asserts beyond the sanitizers: a broken promise of the code under test is
// reported like a crash, so libFuzzer keeps the input that shows it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace qv::fuzz {

inline void Require(bool holds, std::string_view what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

inline std::string_view AsText(const unsigned char* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace qv::fuzz
