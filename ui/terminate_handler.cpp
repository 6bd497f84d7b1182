// The product's terminate handler. The runtime's default one writes the
// escaping exception's demangled type name to stderr, which a GUI program
// does not have, and it brings the whole demangler (about 46 KiB) into the
// image. Nothing escapes here anyway: the pump's quit integer is caught where
// it is thrown. Only updater.exe links this file.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

} // namespace __gnu_cxx
