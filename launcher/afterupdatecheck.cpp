// Patchloom's AfterUpdateCheck: nothing (updatedriver.h). Built into the
// program only, so a test build of the updater can bring its own.
#include "launcher/updatedriver.h"

void AfterUpdateCheck(const CUpdatePaths& /*paths*/) {}
