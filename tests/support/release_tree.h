// Releases of a client's resources for tests of updates: a random first
// release and random next ones (files changed larger, smaller and at the
// same size, files added in existing and in new directories and below the
// root, Chinese names, empty files; with removals also files removed,
// moved to other directories, and whole directories gone), written as trees
// and read back from trees and packs.
#pragma once

#include <filesystem>
#include <map>
#include <string>

// A release's files: path below the root directory ('/' between components,
// UTF-8, lower case as pack names are) -> bytes.
using ReleaseFiles = std::map<std::string, std::string>;

ReleaseFiles FirstRelease(unsigned nSeed);
ReleaseFiles NextRelease(const ReleaseFiles& previous, unsigned nSeed);
ReleaseFiles NextReleaseWithRemovals(const ReleaseFiles& previous, unsigned nSeed);

// Writes the files below root (created; nothing else is removed).
void WriteRelease(const ReleaseFiles& files, const std::filesystem::path& root);

// The files below a directory, and the plain content of a pack's entries,
// by their paths below the root.
ReleaseFiles TreeContent(const std::filesystem::path& root);
ReleaseFiles PackContent(const std::filesystem::path& pack);

// A name below the root as the pack names it: code page 936, backslashes,
// the root name first ("res", "ui/a.txt" -> "res\ui\a.txt").
std::string EntryNameOf(const std::string& strRoot, const std::string& strRelUtf8);
