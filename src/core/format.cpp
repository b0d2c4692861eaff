#include "core/format.h"

#include <vector>

namespace qv {

std::string Format(std::string_view fmt, std::initializer_list<FmtArg> args) {
  std::string out;
  out.reserve(fmt.size() + 32);
  auto it = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c != '%' || i + 1 >= fmt.size()) {
      out += c;
      continue;
    }
    const char k = fmt[i + 1];
    if (k == '%') {
      out += '%';
      ++i;
    } else if ((k == 's' || k == 'd') && it != args.end()) {
      const auto& v = it->value();
      if (const auto* s = std::get_if<std::string>(&v)) out += *s;
      else out += std::to_string(std::get<int64_t>(v));
      ++it;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qv
