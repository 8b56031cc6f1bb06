// What a merge does, step by step: the actions of its plan, and the plan
// as a dry run (CRealizePack::PreviewMerge) hands it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class MergeAction {
  kInPlace,  // a changed entry written over its slot
  kMove,     // a changed entry written elsewhere; its old slot is freed
  kAdd,      // a new entry of the client's tree
  kLoose,    // a new entry written as a loose file
};

enum class MergePlace {
  kSlot,       // its own slot (kInPlace)
  kFreeBlock,  // carved from a free block
  kEnd,        // appended at the end of the data area
  kNone,       // a loose file
};

struct CMergePreviewStep {
  MergeAction eAction = MergeAction::kInPlace;
  MergePlace ePlace = MergePlace::kSlot;
  std::string strName;       // the update's entry name (code page 936)
  uint32_t dwOffset = 0;     // blob steps: where its bytes go in the client
  uint32_t dwSize = 0;       // blob steps: the bytes it takes there
  uint32_t dwPlainSize = 0;  // the entry's plain size
  std::string strLoosePath;  // loose steps: the file's path below the directory loose files go to
};

struct CMergePreview {
  std::vector<CMergePreviewStep> vecSteps;   // in the order the merge writes them
  size_t nUpdateEntries = 0;                 // entries of the update
  uint64_t qwSizeBefore = 0;                 // the client pack's file size now
  uint64_t qwSizeAfter = 0;                  // and once merged
  uint32_t dwFreeBytesAfter = 0;             // bytes in free blocks once merged
  std::vector<std::string> vecRemoved;       // a release update: entries it takes out of the pack
  std::vector<std::string> vecLooseRemoved;  // and removed entries whose loose files it deletes
};
