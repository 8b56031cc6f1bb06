// The Win32 API for Patchloom's code: the real <windows.h> on Windows, our
// POSIX implementation of the subset it uses everywhere else.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>: redirects the path-taking A functions to code-page-936
// wrappers.
#include "platform/windows/cp936_api.h"
// The calls that change file contents, through the fault injector's hooks.
#include "platform/windows/fault_api.h"
#else
#include "platform/posix/win32_posix.h"
#endif
