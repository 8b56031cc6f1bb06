// The loose files of a client. A merge writes an update's entries whose
// first directory is not in the client pack's tree as loose files beside
// it; they are part of the client's release as much as the pack's
// entries. A release update (CRealizePack::MergeUpdate) records their
// names beside the pack, so that the release a client holds can be told
// (packclient.h) and a later update can delete the loose files of the
// entries it removes.
//
// <pack>.loose, lines ending in LF:
//
//   patchloom-loose-files 1
//   <name>      the entry name in name text (packmanifest.h), one line per
//               loose entry, in ascending unsigned byte order, each once
//
// A client without loose entries has no record. The files lie below the
// directory the merge wrote them to, at their names without the root name
// (LooseFilePath).
#pragma once

#include <set>
#include <string>
#include <vector>

constexpr char kLooseRecordSuffix[] = ".loose";

std::string LooseRecordPath(const std::string& strPackPath);

// Where a loose entry's file lies below strLooseDir.
std::string LooseFilePath(const std::string& strLooseDir, const std::string& strName);

// The directories between strLooseDir and a loose entry's file, outermost
// first: those a merge makes when they are missing.
std::vector<std::string> LooseDirectories(const std::string& strLooseDir, const std::string& strName);

// The record's text for setNames (empty for an empty set: no record).
std::string LooseRecordText(const std::set<std::string>& setNames);

// Reads the record beside strPackPath into setNames; no record gives an
// empty set. Returns false, with the last error set, when it cannot be
// read, and with ERROR_INVALID_DATA when it is not a record in its form or
// names an entry a merge could not have written (IsSafeEntryName).
bool ReadLooseRecord(const std::string& strPackPath, std::set<std::string>& setNames);

// Writes the record by the durable replace (platform/durable_replace.h);
// an empty set removes it. Returns false with the last error set; the old
// record is then as it was.
bool WriteLooseRecord(const std::string& strPackPath, const std::set<std::string>& setNames);
