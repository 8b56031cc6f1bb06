// The console window's system menu on POSIX. The process's "console window"
// is its controlling terminal, and the only menu command with a meaning is
// Close: closing a terminal hangs it up, which sends SIGHUP. Greying Close
// out therefore ignores SIGHUP; enabling it restores the default action.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"
#include "platform/posix/unique_fd.h"

namespace {

// Addresses that serve as the window's and its menu's handles.
HWND__ g_consoleWindow = {0};
HMENU__ g_systemMenu = {0};

bool HasControllingTerminal() {
  CUniqueFd fdTerminal(open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC));
  return fdTerminal.IsValid();
}

bool IsCloseGreyed() {
  struct sigaction current = {};
  return sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void SetCloseGreyed(bool bGreyed) {
  struct sigaction action = {};
  action.sa_handler = bGreyed ? SIG_IGN : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

// Null without a controlling terminal, as Windows has no window for a
// process without a console.
extern "C" HWND WINAPI GetConsoleWindow(void) { return HasControllingTerminal() ? &g_consoleWindow : nullptr; }

extern "C" HMENU WINAPI GetSystemMenu(HWND hWnd, BOOL bRevert) {
  if (hWnd != &g_consoleWindow) return Fail(static_cast<HMENU>(nullptr), ERROR_INVALID_WINDOW_HANDLE);
  if (bRevert) {
    // Back to the default menu, Close enabled; Windows then returns null.
    SetCloseGreyed(false);
    return nullptr;
  }
  return &g_systemMenu;
}

// Returns the item's previous state (MF_ENABLED or MF_GRAYED), or -1 when
// the menu has no such item.
extern "C" BOOL WINAPI EnableMenuItem(HMENU hMenu, UINT uIDEnableItem, UINT uEnable) {
  if (hMenu != &g_systemMenu) return Fail(static_cast<BOOL>(-1), ERROR_INVALID_MENU_HANDLE);
  if ((uEnable & MF_BYPOSITION) != 0 || uIDEnableItem != SC_CLOSE) return -1;
  BOOL nPrevious = IsCloseGreyed() ? MF_GRAYED : MF_ENABLED;
  SetCloseGreyed((uEnable & (MF_GRAYED | MF_DISABLED)) != 0);
  return nPrevious;
}
