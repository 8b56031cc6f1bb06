#include "tools/filepacktools_lib/zstdpatch.h"

#include <zstd.h>

#include "platform/win32.h"

namespace {

struct CCctxFree {
  void operator()(ZSTD_CCtx* pContext) const { ZSTD_freeCCtx(pContext); }
};
struct CDctxFree {
  void operator()(ZSTD_DCtx* pContext) const { ZSTD_freeDCtx(pContext); }
};

bool Fail(DWORD dwError) {
  SetLastError(dwError);
  return false;
}

bool Set(ZSTD_CCtx* pContext, ZSTD_cParameter eParam, int nValue) {
  return !ZSTD_isError(ZSTD_CCtx_setParameter(pContext, eParam, nValue));
}

}  // namespace

int PatchWindowLog(uint32_t dwBase, uint32_t dwResult) {
  const uint64_t qwSpan = uint64_t{dwBase} + dwResult;
  int nLog = 10;
  while (nLog < kPatchMaxWindowLog && (uint64_t{1} << nLog) < qwSpan) ++nLog;
  return nLog;
}

bool MakePatch(const unsigned char* pbyBase, uint32_t dwBase, const unsigned char* pbyResult, uint32_t dwResult,
               std::string& strPatch) {
  if (uint64_t{dwBase} + dwResult > kPatchMaxSpan) return Fail(ERROR_FILE_TOO_LARGE);
  std::unique_ptr<ZSTD_CCtx, CCctxFree> pContext(ZSTD_createCCtx());
  if (!pContext) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  ZSTD_CCtx* pCctx = pContext.get();
  const bool bSet = Set(pCctx, ZSTD_c_compressionLevel, kPatchLevel) &&
                    Set(pCctx, ZSTD_c_windowLog, PatchWindowLog(dwBase, dwResult)) &&
                    Set(pCctx, ZSTD_c_enableLongDistanceMatching, 1) && Set(pCctx, ZSTD_c_checksumFlag, 1) &&
                    Set(pCctx, ZSTD_c_contentSizeFlag, 1) &&
                    !ZSTD_isError(ZSTD_CCtx_refPrefix(pCctx, dwBase > 0 ? pbyBase : nullptr, dwBase));
  if (!bSet) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  try {
    strPatch.resize(ZSTD_compressBound(dwResult));
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  const size_t nWritten = ZSTD_compress2(pCctx, &strPatch[0], strPatch.size(), pbyResult, dwResult);
  if (ZSTD_isError(nWritten)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  strPatch.resize(nWritten);
  return true;
}

bool ApplyPatch(const unsigned char* pbyBase, uint32_t dwBase, const unsigned char* pbyPatch, uint32_t dwPatch,
                unsigned char* pbyOut, uint32_t dwResult) {
  if (uint64_t{dwBase} + dwResult > kPatchMaxSpan) return Fail(ERROR_INVALID_DATA);
  // One frame, and it says it holds exactly the result: anything else is
  // refused before any output.
  if (ZSTD_findFrameCompressedSize(pbyPatch, dwPatch) != dwPatch ||
      ZSTD_getFrameContentSize(pbyPatch, dwPatch) != dwResult) {
    return Fail(ERROR_INVALID_DATA);
  }
  std::unique_ptr<ZSTD_DCtx, CDctxFree> pContext(ZSTD_createDCtx());
  if (!pContext) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  ZSTD_DCtx* pDctx = pContext.get();
  if (ZSTD_isError(ZSTD_DCtx_setParameter(pDctx, ZSTD_d_windowLogMax, PatchWindowLog(dwBase, dwResult))) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(pDctx, dwBase > 0 ? pbyBase : nullptr, dwBase))) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  ZSTD_inBuffer in = {pbyPatch, dwPatch, 0};
  ZSTD_outBuffer out = {pbyOut, dwResult, 0};
  const size_t nLeft = ZSTD_decompressStream(pDctx, &out, &in);
  // Done means the frame ended, its checksum held and all of it was read.
  if (ZSTD_isError(nLeft) || nLeft != 0 || out.pos != dwResult || in.pos != dwPatch) return Fail(ERROR_INVALID_DATA);
  return true;
}
