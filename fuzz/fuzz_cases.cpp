// The inputs kept for good. None of them has broken a target yet; they lie
// on edges the seeds and short runs rarely reach (cut files, names that
// climb out, sizes that claim too much, journals of another pack). An input
// that once broke a target joins its list here, named after what it broke.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_statements.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

// The bytes with a little-endian value written over them at nOffset.
template <typename TValue>
std::string With(std::string strBytes, size_t nOffset, TValue value) {
  std::memcpy(&strBytes[nOffset], &value, sizeof(value));
  return strBytes;
}

// Where field nField of index record nEntry of a pack lies.
size_t EntryField(const std::string& strPack, size_t nEntry, size_t nField) {
  uint32_t dwIndexOffset = 0;
  std::memcpy(&dwIndexOffset, strPack.data() + offsetof(PackHeader, dwIndexOffset), sizeof(dwIndexOffset));
  return dwIndexOffset + nEntry * kPackEntrySize + nField;
}

// Names that mean something else to Windows: a drive, the other
// separator, a device, an alternate data stream, a trailing dot.
std::vector<CFuzzEntry> WindowsNames(const std::string& strRoot) {
  std::vector<CFuzzEntry> vecEntries;
  for (const char* pszRest : {"\\C:\\drive.txt", "\\ui/../../../../slash.txt", "\\ui\\nul.txt",
                              "\\ui\\stream.txt:hidden", "\\ui\\dot.\\x.txt"}) {
    vecEntries.push_back({strRoot + pszRest, pszRest, ""});
  }
  return vecEntries;
}

std::vector<CFuzzInput> Packs() {
  const std::vector<CFuzzEntry> vecEntries = {{"res\\a.txt", "top", "t1"},
                                              {"res\\ui\\b.txt", std::string(700, 'b'), "t2"}};
  const std::string strPlain = MakePack("res", vecEntries, false);
  const std::string strPacked = MakePack("res", vecEntries, true);
  const size_t nIndexAt = EntryField(strPlain, 0, 0);
  return {{"empty", ""},
          {"header-cut", strPlain.substr(0, kPackHeaderSize / 2)},
          {"index-cut", strPlain.substr(0, nIndexAt + kPackEntrySize + kPackEntrySize / 2)},
          {"blob-past-end", With(strPlain, EntryField(strPlain, 1, offsetof(PackEntry, dwOffset)), uint32_t{1} << 30)},
          {"entry-claims-2-gib",
           With(strPacked, EntryField(strPacked, 1, offsetof(PackEntry, dwOrigSize)), uint32_t{0x7FFFFFFF})},
          {"names-climb-out", MakePack("res",
                                       {{"res\\..\\..\\..\\out.txt", "out", "o1"},
                                        {"res\\ui\\..\\..\\..\\..\\up\\x.txt", "up", "u1"},
                                        {"res\\ui\\.\\dot.txt", "dot", "d1"}},
                                       false)},
          {"windows-names", MakePack("res", WindowsNames("res"), false)}};
}

// Updates for the fixed client.
std::vector<CFuzzInput> Updates() {
  const std::vector<CFuzzEntry> vecEntries = {{"res\\ui\\a.txt", std::string(40, 'A'), "a2"},
                                              {"res\\ui\\b.txt", std::string(900, 'B'), "b2"}};
  const std::string strPacked = MakePack("res", vecEntries, true);
  const size_t nSecondStored = EntryField(strPacked, 1, offsetof(PackEntry, dwStoredSize));
  uint32_t dwSecondStored = 0;
  std::memcpy(&dwSecondStored, strPacked.data() + nSecondStored, sizeof(dwSecondStored));
  return {{"empty", ""},
          {"header-cut", strPacked.substr(0, kPackHeaderSize - 1)},
          // The first entry goes in, the second does not decode: the
          // merge must give back the client as it was.
          {"second-stream-cut", With(strPacked, nSecondStored, dwSecondStored / 2)},
          {"entry-claims-2-gib",
           With(strPacked, EntryField(strPacked, 1, offsetof(PackEntry, dwOrigSize)), uint32_t{0x7FFFFFFF})},
          {"names-climb-out", MakePack("res",
                                       {{"res\\..\\..\\..\\escape.txt", "in the tree", "e1"},
                                        {"other\\..\\..\\..\\up.txt", "loose", "u1"}},
                                       false)},
          {"windows-names-in-tree", MakePack("res", WindowsNames("res"), false)},
          {"windows-names-loose", MakePack("other", WindowsNames("other"), false)}};
}

std::vector<CFuzzInput> Streams() {
  const std::string strOne = Lzma86("a");
  const std::string strText = Lzma86(std::string(1000, 't') + "end");
  return {{"empty", ""},
          {"header-only", strOne.substr(0, kLzma86HeaderSize)},
          {"claim-beyond-bound", With(strOne, kLzma86SizeOffset, uint64_t{0x7FFFFFFF})},
          {"cut-in-half", strText.substr(0, strText.size() / 2)},
          {"unknown-filter", With(strOne, 0, uint8_t{2})}};
}

// Journals beside the fixed client that must not be trusted, or trusted
// only as far as they hold bytes.
std::vector<CFuzzInput> Journals() {
  const std::string strClient = FixedClient();
  PackHeader header;
  std::memcpy(&header, strClient.data(), sizeof(header));
  const std::string strSound = MakeJournal(strClient, header, {{0, kPackHeaderSize}});
  // The client's header on a longer file: a restore would cut the client
  // back to that length.
  const std::string strLonger = strClient + std::string(4096, '\x55');
  const uint64_t qwTail = strClient.size();
  const std::string strOther = MakePack("other", {{"other\\x.txt", "x", "x1"}}, false);
  PackHeader otherHeader;
  std::memcpy(&otherHeader, strOther.data(), sizeof(otherHeader));
  return {{"empty", ""},
          {"crc-cut", strSound.substr(0, strSound.size() - 1)},
          {"crc-wrong", With(strSound, strSound.size() - 4, uint32_t{0})},
          {"longer-pack-tail-saved", MakeJournal(strLonger, header, {{0, kPackHeaderSize}, {qwTail, 4096}})},
          {"longer-pack-tail-missing", MakeJournal(strLonger, header, {{0, kPackHeaderSize}})},
          {"other-pack", MakeJournal(strOther, otherHeader, {{0, kPackHeaderSize}})}};
}

}  // namespace

// The first occurrence of strFrom replaced.
std::string Replaced(std::string strText, const std::string& strFrom, const std::string& strTo) {
  const size_t nAt = strText.find(strFrom);
  return nAt == std::string::npos ? strText : strText.replace(nAt, strFrom.size(), strTo);
}

// Signature files on the edges: the trusted key's id on a stranger's
// signature, a key id in upper case, fields given twice or missing, a cut
// or extended file, a wrong product, a digest of another pack, versions
// that only look dotted.
std::vector<CFuzzInput> Statements() {
  const std::vector<PackStatement> vecStatements = FuzzStatements();
  const std::string strBound = SignedFile(vecStatements[2], FuzzSigningKey());
  const std::string strStranger = SignedFile(vecStatements[2], FuzzStrangerKey());
  const std::string strKeyLine = "key " + PackKeyId(FuzzSigningKey().publicKey) + "\n";
  const std::string strStrangerLine = "key " + PackKeyId(FuzzStrangerKey().publicKey) + "\n";
  std::string strUpperId = PackKeyId(FuzzSigningKey().publicKey);
  for (char& ch : strUpperId) ch = (ch >= 'a' && ch <= 'f') ? static_cast<char>(ch - 'a' + 'A') : ch;
  PackStatement other = vecStatements[1];
  other.strProduct = "Grumvel";
  PackStatement bigger = vecStatements[1];
  bigger.digest.qwSize += 1;
  PackStatement zeros = vecStatements[3];
  zeros.strVersion = "01.002";
  zeros.strBase = "1.1";
  return {{"stranger-names-the-key", Replaced(strStranger, strStrangerLine, strKeyLine)},
          {"key-in-upper-case", Replaced(strBound, strKeyLine, "key " + strUpperId + "\n")},
          {"key-twice", Replaced(strBound, strKeyLine, strKeyLine + strKeyLine)},
          {"key-missing", Replaced(strBound, strKeyLine, "")},
          {"cut-in-the-signature", strBound.substr(0, strBound.size() - 20)},
          {"after-the-signature", strBound + "version 9\n"},
          {"carriage-returns", Replaced(strBound, "\n", "\r\n")},
          {"another-product", SignedFile(other, FuzzSigningKey())},
          {"another-size", SignedFile(bigger, FuzzSigningKey())},
          {"leading-zeros", SignedFile(zeros, FuzzSigningKey())}};
}

std::vector<CFuzzInput> KeptFuzzCases(const std::string& strTarget) {
  std::vector<CFuzzInput> vecCases;
  if (strTarget == "open_extract_stays_inside") vecCases = Packs();
  if (strTarget == "merge_keeps_client_sound") vecCases = Updates();
  if (strTarget == "lzma86_decode_is_bounded") vecCases = Streams();
  if (strTarget == "journal_restore_is_safe") vecCases = Journals();
  if (strTarget == "statement_check_is_sound") vecCases = Statements();
  for (CFuzzInput& input : vecCases) input.strName = "kept-" + input.strName;
  return vecCases;
}
