// The program's printf-like formatting: "%s" takes text, "%d" a 32- or 64-bit integer in
// decimal, "%%" a percent sign.  Used for log lines and for the two translated texts that carry
// a placeholder.  A conversion without a matching argument is written as it stands; surplus
// arguments are ignored.  Never throws on any input.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace qv {

class FmtArg {
 public:
  FmtArg(std::string_view s) : v_(std::string(s)) {}
  FmtArg(const std::string& s) : v_(s) {}
  FmtArg(const char* s) : v_(std::string(s ? s : "")) {}
  FmtArg(int v) : v_(static_cast<int64_t>(v)) {}
  FmtArg(long v) : v_(static_cast<int64_t>(v)) {}
  FmtArg(long long v) : v_(static_cast<int64_t>(v)) {}
  FmtArg(unsigned v) : v_(static_cast<int64_t>(v)) {}
  FmtArg(unsigned long v) : v_(static_cast<int64_t>(v)) {}
  FmtArg(unsigned long long v) : v_(static_cast<int64_t>(v)) {}
  const std::variant<std::string, int64_t>& value() const { return v_; }

 private:
  std::variant<std::string, int64_t> v_;
};

std::string Format(std::string_view fmt, std::initializer_list<FmtArg> args);

}  // namespace qv
