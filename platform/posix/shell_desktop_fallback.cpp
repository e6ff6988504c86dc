// Programs built without the desktop shell's library get no desktop table; the tray
// program links the library, whose definition then takes the place of this one.
#include "platform/posix/shell_impl.h"

namespace platform::shell {

#if defined(KESTROVAN_SHELL_DESKTOP)
__attribute__((weak)) const ShellImpl* desktopShell() { return nullptr; }
#endif

}  // namespace platform::shell
