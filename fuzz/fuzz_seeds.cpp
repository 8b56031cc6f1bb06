#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_statements.h"

namespace {

std::vector<CFuzzInput> Named(const std::vector<std::string>& vecSeeds) {
  std::vector<CFuzzInput> vecOut;
  for (size_t i = 0; i < vecSeeds.size(); ++i) vecOut.push_back({"seed-" + std::to_string(i), vecSeeds[i]});
  return vecOut;
}

std::string Text(size_t nSize) {
  std::string str;
  while (str.size() < nSize) str += "patchloom pack line " + std::to_string(str.size()) + "\n";
  return str.substr(0, nSize);
}

std::vector<std::string> Packs() {
  const std::vector<CFuzzEntry> vecEntries = {{"res\\a.txt", "top", "t1"},
                                              {"res\\ui\\b.txt", Text(200), "t2"},
                                              {"res\\ui\\deep\\c.bin", std::string(64, '\x90'), ""},
                                              {"res\\\xB5\xD8\xCD\xBC\\\xB3\xC7.map", Text(90), "t3"}};
  return {MakePack("res", vecEntries, false), MakePack("res", vecEntries, true), MakePack("res", vecEntries, false, 17),
          MakePack("res", {}, false), MakePack("r", {{"r\\x", "", ""}}, true)};
}

// Updates for the fixed client: changed entries that shrink, grow and keep
// their size, unchanged ones, new entries in and outside its tree.
std::vector<std::string> Updates() {
  const std::vector<CFuzzEntry> vecEntries = {
      {"res\\loose\\l.txt", "loose", "l1"},       {"res\\maps\\m.map", "a longer map", "m2"},
      {"res\\ui\\a.txt", "short", "a2"},          {"res\\ui\\b.txt", "bbbb", "b1"},
      {"res\\ui\\deep\\new.txt", Text(40), "n1"}, {"res\\ui\\z.txt", Text(500), "z1"}};
  return {MakePack("res", vecEntries, false), MakePack("res", vecEntries, true),
          MakePack("res", {{"res\\ui\\b.txt", Text(3000), "b2"}}, true)};
}

std::vector<std::string> Streams() {
  return {Lzma86(""), Lzma86("a"), Lzma86(Text(1000)), Lzma86(std::string(5000, '\0')),
          Lzma86(std::string("\xE8\x00\x00\x00\x00\xE9\x10\x20\x30\x40", 10) + Text(100))};
}

// Journals as a merge writes them, for the fixed client.
std::vector<std::string> Journals() {
  const std::string strClient = FixedClient();
  PackHeader newHeader;
  std::memcpy(&newHeader, strClient.data(), sizeof(newHeader));
  newHeader.dwIndexOffset += 100;
  const std::vector<std::vector<CWriteRange>> vecRangeSets = {
      {{0, 60}}, {{0, 60}, {60, 16}, {100, 2000}}, {{0, 60}, {uint64_t(strClient.size()) - 40, 1u << 20}}};
  std::vector<std::string> vecOut;
  for (const auto& vecRanges : vecRangeSets) vecOut.push_back(MakeJournal(strClient, newHeader, vecRanges));
  return vecOut;
}

// Deltas for the fixed client: patches of entries that grow, shrink and are
// rewritten, whole entries plain and compressed, an empty one.
std::vector<std::string> Deltas() {
  const std::vector<CFuzzEntry> vecBase = FixedClientEntries();
  const std::vector<CFuzzEntry> vecNew = {{"res\\maps\\m.map", "map, redone", ""},
                                          {"res\\ui\\a.txt", "AAAAAAAABAAAAAAAA", ""},
                                          {"res\\ui\\deep\\c.txt", std::string(250, 'c') + Text(60), ""},
                                          {"res\\ui\\new.txt", Text(120), ""}};
  return {MakeDelta(vecBase, vecNew, false), MakeDelta(vecBase, vecNew, true), MakeDelta(vecBase, {}, false),
          MakeDelta({}, vecNew, true)};
}

// Signature files of every valid form, signed with the key the target
// trusts, and one signed with a stranger's key.
std::vector<std::string> Statements() {
  std::vector<std::string> vecOut;
  for (const PackStatement& statement : FuzzStatements()) vecOut.push_back(SignedFile(statement, FuzzSigningKey()));
  vecOut.push_back(SignedFile(FuzzStatements()[2], FuzzStrangerKey()));
  return vecOut;
}

}  // namespace

// Index layouts for the planner: bytes of a fixed pseudo-random sequence,
// each seed a different length, so clients and updates of every size occur.
std::vector<std::string> Plans() {
  std::vector<std::string> vecSeeds;
  uint32_t dwState = 12345;
  for (size_t nLength : {8, 24, 48, 96, 160, 256}) {
    std::string strSeed;
    for (size_t i = 0; i < nLength; ++i) {
      dwState = dwState * 1103515245u + 12345u;
      strSeed += static_cast<char>(dwState >> 24);
    }
    vecSeeds.push_back(strSeed);
  }
  return vecSeeds;
}

// fuzz/CMakeLists.txt's list of targets, passed in comma-separated.
const std::vector<std::string>& FuzzTargets() {
  static const std::vector<std::string> s_vecTargets = [] {
    std::vector<std::string> vecTargets;
    std::istringstream list(PATCHLOOM_FUZZ_TARGETS);
    for (std::string strTarget; std::getline(list, strTarget, ',');) vecTargets.push_back(strTarget);
    return vecTargets;
  }();
  return s_vecTargets;
}

std::vector<CFuzzInput> FuzzSeeds(const std::string& strTarget) {
  if (strTarget == "open_extract_stays_inside") return Named(Packs());
  if (strTarget == "merge_keeps_client_sound") return Named(Updates());
  if (strTarget == "lzma86_decode_is_bounded") return Named(Streams());
  if (strTarget == "journal_restore_is_safe") return Named(Journals());
  if (strTarget == "plan_keeps_layout_sound") return Named(Plans());
  if (strTarget == "delta_rebuild_is_checked") return Named(Deltas());
  if (strTarget == "statement_check_is_sound") return Named(Statements());
  return {};
}

std::vector<CFuzzInput> FuzzCorpus(const std::string& strTarget) {
  std::vector<CFuzzInput> vecInputs = FuzzSeeds(strTarget);
  for (CFuzzInput& input : KeptFuzzCases(strTarget)) vecInputs.push_back(std::move(input));
  return vecInputs;
}
