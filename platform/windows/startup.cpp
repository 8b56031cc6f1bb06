// Process start-up of the Windows build, run by a static initializer before
// main in every program linked with the platform library: launcher and test
// executables alike, with no call to forget. Nothing references this file,
// so platform/CMakeLists.txt makes the linker require g_nCp936Startup, which
// keeps the object (and its initializer) in every program.
#include <mbctype.h>

namespace {

int SetUpCodePage936() {
  // The C runtime's multibyte functions (_mbsrchr, _mbslwr, ...) follow the
  // multibyte code page, which is the machine's ANSI code page unless set:
  // make them treat the program's strings as the GBK they are.
  _setmbcp(936);
  return 936;
}

}  // namespace

extern "C" {
extern const int g_nCp936Startup;
const int g_nCp936Startup = SetUpCodePage936();
}
