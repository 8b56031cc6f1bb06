#include "tools/filepacktools_lib/packcodec.h"

#include <lzma.h>
#include <lzo1x.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

constexpr uint32_t kLzmaLc = 3;
constexpr uint32_t kLzmaLp = 0;
constexpr uint32_t kLzmaPb = 2;
constexpr uint32_t kLzmaPreset = 5;
constexpr uint32_t kLzmaMinDict = 4096;
// Properties bytes at or above this do not encode a valid lc/lp/pb.
constexpr unsigned kLzmaPropsLimit = 9 * 5 * 5;

constexpr unsigned char PropsByte(uint32_t lc, uint32_t lp, uint32_t pb) {
  return static_cast<unsigned char>((pb * 5 + lp) * 9 + lc);
}
static_assert(PropsByte(kLzmaLc, kLzmaLp, kLzmaPb) == kLzma86PropsByte,
              "header constant out of step with the encoder options");

void PutLe(unsigned char* p, uint64_t qwValue, int nBytes) {
  for (int i = 0; i < nBytes; ++i) p[i] = static_cast<unsigned char>(qwValue >> (8 * i));
}

uint32_t GetLe32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Owns an lzma_stream so every exit path releases the coder.
class CLzmaStream {
 public:
  CLzmaStream() = default;
  CLzmaStream(const CLzmaStream&) = delete;
  CLzmaStream& operator=(const CLzmaStream&) = delete;
  ~CLzmaStream() { lzma_end(&m_strm); }
  lzma_stream* Get() { return &m_strm; }

 private:
  lzma_stream m_strm = LZMA_STREAM_INIT;
};

void WriteLzmaHeader(unsigned char* dst, uint32_t srcLen) {
  dst[0] = kLzma86FilterX86;
  dst[kLzma86PropsOffset] = kLzma86PropsByte;
  PutLe(dst + kLzma86PropsOffset + 1, kLzma86DictSize, 4);
  PutLe(dst + kLzma86SizeOffset, srcLen, 8);
}

// Reads lc/lp/pb and the dictionary from the header. The dictionary never
// needs to exceed the output, so a hostile 4 GiB claim costs nothing.
bool ReadLzmaProps(const unsigned char* pProps, uint32_t dwOutSize, lzma_options_lzma* pOpt) {
  unsigned nByte = pProps[0];
  if (nByte >= kLzmaPropsLimit) return false;
  pOpt->lc = nByte % 9;
  nByte /= 9;
  pOpt->lp = nByte % 5;
  pOpt->pb = nByte / 5;
  const uint32_t dwCap = std::max(kLzmaMinDict, dwOutSize);
  pOpt->dict_size = std::max(kLzmaMinDict, std::min(GetLe32(pProps + 1), dwCap));
  // Streams from other writers may carry an end marker; accept it only
  // right after the known size.
  pOpt->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(*pOpt, dwOutSize);
  return true;
}

int MapLzmaError(lzma_ret ret) { return ret == LZMA_MEM_ERROR ? kLzmaErrorMem : kLzmaErrorData; }

int RunLzmaDecoder(lzma_stream* pStrm, uint32_t dwOutSize) {
  lzma_ret ret;
  do {
    ret = lzma_code(pStrm, LZMA_FINISH);
  } while (ret == LZMA_OK);  // lzma_code reports LZMA_BUF_ERROR once stuck
  if (ret == LZMA_STREAM_END) return pStrm->total_out == dwOutSize ? kLzmaOk : kLzmaErrorInputEof;
  if (ret == LZMA_BUF_ERROR && pStrm->avail_in == 0) return kLzmaErrorInputEof;
  return MapLzmaError(ret);
}

bool LzoReady() {
  static const bool s_bOk = lzo_init() == LZO_E_OK;
  return s_bOk;
}

}  // namespace

int LzmaCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t* pDstLen,
                 int /*nLevel*/) {
  const uint32_t dwCap = *pDstLen;
  *pDstLen = 0;
  if (dwCap < kLzma86HeaderSize) return kLzmaErrorOutputEof;

  lzma_options_lzma opt{};
  if (lzma_lzma_preset(&opt, kLzmaPreset)) return kLzmaErrorData;
  opt.lc = kLzmaLc;
  opt.lp = kLzmaLp;
  opt.pb = kLzmaPb;
  opt.dict_size = kLzma86DictSize;
  opt.ext_flags = 0;  // no end marker: the size lives in our header
  lzma_set_ext_size(opt, 0);
  lzma_options_bcj bcj{};
  bcj.start_offset = 0;
  const lzma_filter filters[] = {
      {LZMA_FILTER_X86, &bcj}, {LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};

  WriteLzmaHeader(dst, srcLen);
  *pDstLen = kLzma86HeaderSize;
  size_t nOutPos = 0;
  const lzma_ret ret = lzma_raw_buffer_encode(
      filters, nullptr, src, srcLen, dst + kLzma86HeaderSize, &nOutPos, dwCap - kLzma86HeaderSize);
  if (ret == LZMA_BUF_ERROR) return kLzmaErrorOutputEof;
  if (ret != LZMA_OK) return MapLzmaError(ret);
  *pDstLen = kLzma86HeaderSize + static_cast<uint32_t>(nOutPos);
  return kLzmaOk;
}

int LzmaUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                   uint32_t* pDstLen) {
  const uint32_t dwOutSize = *pDstLen;
  *pDstLen = 0;
  if (srcLen < kLzma86HeaderSize) return kLzmaErrorInputEof;
  if (src[0] > kLzma86FilterX86) return kLzmaErrorUnsupported;
  if (dwOutSize > Lzma86MaxPlainSize(srcLen)) return kLzmaErrorData;

  lzma_options_lzma opt{};
  if (!ReadLzmaProps(src + kLzma86PropsOffset, dwOutSize, &opt)) return kLzmaErrorData;
  lzma_options_bcj bcj{};
  lzma_filter filters[3];
  lzma_filter* pFilter = filters;
  if (src[0] == kLzma86FilterX86) *pFilter++ = {LZMA_FILTER_X86, &bcj};
  *pFilter++ = {LZMA_FILTER_LZMA1EXT, &opt};
  *pFilter = {LZMA_VLI_UNKNOWN, nullptr};

  CLzmaStream strm;
  const lzma_ret ret = lzma_raw_decoder(strm.Get(), filters);
  if (ret != LZMA_OK) return MapLzmaError(ret);
  lzma_stream* pStrm = strm.Get();
  pStrm->next_in = src + kLzma86HeaderSize;
  pStrm->avail_in = srcLen - kLzma86HeaderSize;
  pStrm->next_out = dst;
  pStrm->avail_out = dwOutSize;
  const int nResult = RunLzmaDecoder(pStrm, dwOutSize);
  *pDstLen = static_cast<uint32_t>(pStrm->total_out);
  return nResult;
}

int ZlibCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t* pDstLen,
                 int nLevel) {
  uLongf nOut = *pDstLen;
  const int nResult = compress2(dst, &nOut, src, srcLen, nLevel);
  *pDstLen = static_cast<uint32_t>(nOut);
  return nResult;
}

int ZlibUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                   uint32_t* pDstLen) {
  uLongf nOut = *pDstLen;
  const int nResult = uncompress(dst, &nOut, src, srcLen);
  *pDstLen = static_cast<uint32_t>(nOut);
  return nResult;
}

int LzoCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst) {
  if (!LzoReady() || LzoCompressBound(srcLen) > INT_MAX) return -1;
  // Per-call work memory keeps concurrent callers apart.
  constexpr size_t kWorkUnits =
      (LZO1X_1_MEM_COMPRESS + sizeof(lzo_align_t) - 1) / sizeof(lzo_align_t);
  const std::unique_ptr<lzo_align_t[]> pWork(new lzo_align_t[kWorkUnits]);
  lzo_uint nOut = 0;
  if (lzo1x_1_compress(src, srcLen, dst, &nOut, pWork.get()) != LZO_E_OK) return -1;
  return static_cast<int>(nOut);
}

int LzoUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t dstCap) {
  // The decoder looks at the first byte before any bounds check, and an
  // empty input is never a valid stream.
  if (!LzoReady() || srcLen == 0) return -1;
  lzo_uint nOut = dstCap;
  const int nResult = lzo1x_decompress_safe(src, srcLen, dst, &nOut, nullptr);
  if (nResult != LZO_E_OK || nOut > INT_MAX) return -1;
  return static_cast<int>(nOut);
}
