// Internal view of the mapping registry for the file functions.
#pragma once

#include <sys/stat.h>

// True while a file mapping object or a view of the file exists in this
// process; Windows then refuses to cut the file short.
bool IsFileMapped(const struct stat& st);
