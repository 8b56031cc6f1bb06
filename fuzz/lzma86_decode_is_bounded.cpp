// Any bytes decoded as an Lzma86 stream, for the size its header claims.
// Checks: no read past the stream or write past the output (both buffers
// are heap blocks of exactly their size, watched by AddressSanitizer); a
// claim beyond Lzma86MaxPlainSize fails before any allocation; a stream
// that decodes gives exactly the claimed bytes, and those bytes survive
// an encode and decode of their own.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {
// Larger claims are legitimate but make the run slow.
constexpr uint64_t kMaxTried = 4 << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  if (nSize > UINT32_MAX) return 0;
  std::vector<unsigned char> vecStream(pbyData, pbyData + nSize);
  uint64_t qwClaim = 0;
  if (nSize >= kLzma86HeaderSize) std::memcpy(&qwClaim, pbyData + kLzma86SizeOffset, sizeof(qwClaim));
  const uint32_t dwStream = static_cast<uint32_t>(nSize);
  if (qwClaim > UINT32_MAX) return 0;
  if (qwClaim > Lzma86MaxPlainSize(dwStream)) {
    unsigned char byNone = 0;
    uint32_t dwLen = static_cast<uint32_t>(qwClaim);
    const int nCode = LzmaUncompress(vecStream.data(), dwStream, &byNone, &dwLen);
    if (nSize >= kLzma86HeaderSize && pbyData[0] <= 1 && nCode != kLzmaErrorData) {
      FuzzFail("a claim beyond the bound was not refused");
    }
    return 0;
  }
  if (qwClaim > kMaxTried) return 0;
  const uint32_t dwClaim = static_cast<uint32_t>(qwClaim);
  std::unique_ptr<unsigned char[]> pbyOut(new unsigned char[dwClaim]);
  uint32_t dwLen = dwClaim;
  if (LzmaUncompress(vecStream.data(), dwStream, pbyOut.get(), &dwLen) != kLzmaOk) {
    if (dwLen > dwClaim) FuzzFail("the decoder reports more bytes than asked for");
    return 0;
  }
  if (dwLen != dwClaim) FuzzFail("a stream decoded to another size than claimed");
  if (dwClaim > (64 << 10)) return 0;
  std::vector<unsigned char> vecAgain(2 * size_t{dwClaim} + 100);
  uint32_t dwAgain = static_cast<uint32_t>(vecAgain.size());
  if (LzmaCompress(pbyOut.get(), dwClaim, vecAgain.data(), &dwAgain, -1) != kLzmaOk) FuzzFail("encoding failed");
  std::unique_ptr<unsigned char[]> pbyBack(new unsigned char[dwClaim]);
  uint32_t dwBack = dwClaim;
  if (LzmaUncompress(vecAgain.data(), dwAgain, pbyBack.get(), &dwBack) != kLzmaOk || dwBack != dwClaim ||
      std::memcmp(pbyBack.get(), pbyOut.get(), dwClaim) != 0) {
    FuzzFail("a round trip changed the bytes");
  }
  return 0;
}
