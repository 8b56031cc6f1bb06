// Any bytes as a delta update, rebuilt against a fixed, sound client pack.
// Checks: no crash, leak or overrun, no allocation beyond what the records
// claim; a rebuild that succeeds gives exactly the records' entries (names,
// sizes, tags) and every entry's bytes have the MD5 its record gives, so
// no result that fails its MD5 is ever accepted; a refused rebuild writes
// nothing; nothing is written outside the sandbox.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packdelta.h"

namespace {

// The records' claims add up to more than this fuzzer lets an input ask
// for (a patch may legitimately decode to thousands of times its size).
constexpr uint64_t kMaxClaimed = 64ull << 20;

bool ClaimsTooMuch(const uint8_t* pbyData, size_t nSize) {
  CDeltaIndex index;
  if (!ReadDeltaIndex(pbyData, nSize, nSize, index).empty()) return false;
  uint64_t qwClaimed = 0;
  for (const CDeltaRecord& record : index.vecRecords) qwClaimed += record.dwSize;
  return qwClaimed > kMaxClaimed;
}

void CheckRebuilt(const uint8_t* pbyData, size_t nSize, const std::string& strPath) {
  CDeltaIndex index;
  if (!ReadDeltaIndex(pbyData, nSize, nSize, index).empty()) FuzzFail("a delta that breaks its rules was rebuilt");
  CPackFile rebuilt;
  if (!rebuilt.Open(strPath)) FuzzFail("the rebuilt update does not open");
  const PackEntryMap& mapEntry = *rebuilt.GetEntryMap();
  if (mapEntry.size() != index.vecRecords.size()) FuzzFail("the rebuilt update has other entries");
  auto itEntry = mapEntry.begin();
  for (const CDeltaRecord& record : index.vecRecords) {
    CEntryBytes bytes;
    if (itEntry->first != FieldString(record.szName, kPackNameSize) || itEntry->second->dwOrigSize != record.dwSize ||
        std::memcmp(itEntry->second->szTag, record.szTag, kPackTagSize) != 0) {
      FuzzFail("a rebuilt entry is not its record");
    }
    if (!rebuilt.ReadReleaseBytes(itEntry->first, std::string(), bytes) ||
        !HasTag(bytes.pbyData, bytes.dwSize, record.szTag)) {
      FuzzFail("a rebuilt entry's bytes fail their MD5");
    }
    ++itEntry;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  static CFuzzSandbox s_sandbox;
  static const std::string s_strClient = FixedClient();
  if (ClaimsTooMuch(pbyData, nSize)) return 0;
  s_sandbox.Reset();
  WriteBytes(s_sandbox.Dir() / "client.pak", s_strClient);
  std::filesystem::create_directory(s_sandbox.Dir() / "out");
  bool bRebuilt = false;
  {
    CPackFile client;
    if (!client.OpenForReading(s_sandbox.ProgramPath("client.pak"))) FuzzFail("the client does not open");
    CPackFile writer;
    CDeltaOutcome outcome;
    bRebuilt =
        writer.RebuildDeltaUpdate(pbyData, nSize, client, s_sandbox.ProgramPath("out").c_str(), "rebuilt", outcome);
    if (!bRebuilt && outcome.eFault == DeltaFault::kNone) FuzzFail("a refused rebuild says nothing of why");
  }
  const bool bWritten = std::filesystem::exists(s_sandbox.Dir() / "out" / "rebuilt.pak");
  if (bRebuilt != bWritten) FuzzFail(bRebuilt ? "a rebuild wrote no update" : "a refused rebuild wrote an update");
  if (bRebuilt) CheckRebuilt(pbyData, nSize, s_sandbox.ProgramPath("out/rebuilt.pak"));
  if (ReadBytes(s_sandbox.Dir() / "client.pak") != s_strClient) FuzzFail("the client changed");
  s_sandbox.CheckNothingOutside(2 * kMaxClaimed + s_strClient.size());
  s_sandbox.Leave();
  return 0;
}
