// The handle owners live in the platform layer now; this name stays until
// the branches that still include it are merged. Include
// platform/scoped_handle.h.
#pragma once

#include "platform/scoped_handle.h"
