#include "launcher/updatedriver.h"

void DisableConsoleClose() {
  HWND hWindow = GetConsoleWindow();
  if (hWindow == nullptr) return;  // no console, nothing to close
  HMENU hMenu = GetSystemMenu(hWindow, FALSE);
  if (hMenu != nullptr) EnableMenuItem(hMenu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}
