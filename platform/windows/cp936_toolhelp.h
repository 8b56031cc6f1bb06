// The process snapshot's walk with image names in code page 936 rather than
// the machine's ANSI code page. Included by platform/toolhelp.h after
// <tlhelp32.h>; the snapshot itself needs no wrapper.
#pragma once

BOOL WINAPI Cp936Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL WINAPI Cp936Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

#define Process32First Cp936Process32First
#define Process32Next Cp936Process32Next
