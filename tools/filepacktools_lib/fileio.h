// The file helpers live in the platform layer now; this name stays until
// the branches that still include it are merged. Include platform/file_io.h,
// platform/record_writer.h or platform/paths.h.
#pragma once

#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/record_writer.h"
