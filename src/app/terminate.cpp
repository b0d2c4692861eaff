// The program's own terminate handler, in place of libstdc++'s verbose one.  That one writes
// the name of the uncaught exception's type to stderr, which a GUI program does not have, and
// for that links the whole C++ name demangler (about 46 KB).  std::terminate still ends the
// program the same way: abort(), with no unwinding and nothing else run.
#include <cstdlib>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
