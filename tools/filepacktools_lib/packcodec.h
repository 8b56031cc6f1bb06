#pragma once

// Entry codecs of the pack library: the Lzma86 stream used for compressed
// entries, plus zlib and LZO1X for callers that need them. Free functions,
// no state; every length is a uint32_t and every decoder is bounded by the
// capacity its caller gives.

#include <cstdint>

// Lzma86 stream layout:
//   [0]      1 byte   filter flag: 1 = x86 branch converter ran before LZMA
//   [1..5]   5 bytes  LZMA properties: (pb*5+lp)*9+lc, dictionary size LE32
//   [6..13]  8 bytes  original size, LE64
//   [14..]            raw LZMA data, no end marker
// Streams written here always use flag 1, lc 3 lp 0 pb 2 and an 8 MiB
// dictionary, i.e. they start 01 5D 00 00 80 00.
constexpr uint32_t kLzma86HeaderSize = 14;
constexpr uint32_t kLzma86PropsOffset = 1;
constexpr uint32_t kLzma86SizeOffset = 6;
constexpr unsigned char kLzma86FilterNone = 0;
constexpr unsigned char kLzma86FilterX86 = 1;
constexpr unsigned char kLzma86PropsByte = 0x5D;
constexpr uint32_t kLzma86DictSize = 0x800000;

// Result codes of LzmaCompress / LzmaUncompress.
constexpr int kLzmaOk = 0;
constexpr int kLzmaErrorData = 1;
constexpr int kLzmaErrorMem = 2;
constexpr int kLzmaErrorUnsupported = 4;
constexpr int kLzmaErrorInputEof = 6;
constexpr int kLzmaErrorOutputEof = 7;

// The output capacity with which LzmaCompress never runs out of room:
// 2*srcLen+100, clamped to what a 32-bit length can say (an input beyond
// 2 GiB then fails with kLzmaErrorOutputEof unless it compresses to fit).
constexpr uint32_t Lzma86CompressBound(uint32_t srcLen) {
  return 2ull * srcLen + 100 < UINT32_MAX ? static_cast<uint32_t>(2ull * srcLen + 100) : UINT32_MAX;
}

// Spare bytes that every decoding caller allocates behind a buffer of the
// plain size (a stream handed to a caller keeps that buffer).
constexpr uint32_t kLzma86DecodeSlack = 100;

// Writes one Lzma86 stream of src into dst. *pDstLen: capacity in, bytes
// written out; Lzma86CompressBound(srcLen) always suffices. nLevel is
// ignored: the stream parameters are fixed so output is reproducible.
int LzmaCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t* pDstLen,
                 int nLevel);

// The most plain bytes an Lzma86 stream of dwStreamSize bytes can decode
// to: 8192 per stream byte. Why no stream gives more: every decoded binary
// decision narrows the range coder's range by at least the factor
// 2017/2048 (an adaptive probability, 11 bits wide and moved by 1/32 of its
// distance, never passes 2017/2048), which costs at least 0.022 bits of
// input, so one input byte carries at most 364 decisions. The cheapest way
// to output bytes is a repeated match of the longest length, 273 bytes for
// 14 decisions (is-match, is-rep, is-rep0, is-rep0-long, two length
// choices, eight length bits): 19.5 bytes per decision, at most 7,100 bytes
// per input byte. (A 256 MiB run of zeros, the best case, encodes at 7,078
// to 1.) Callers refuse a larger claimed size before allocating for it,
// since an entry claiming gigabytes from a few bytes is damaged or hostile.
constexpr uint64_t kLzma86MaxRatio = 8192;
constexpr uint64_t Lzma86MaxPlainSize(uint32_t dwStreamSize) { return uint64_t{dwStreamSize} * kLzma86MaxRatio; }

// Decodes exactly *pDstLen bytes (the caller knows the entry size; the size
// field of the header is not trusted). On return *pDstLen holds the bytes
// written, also on failure. A size beyond Lzma86MaxPlainSize(srcLen) fails
// at once with kLzmaErrorData.
int LzmaUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                   uint32_t* pDstLen);

// zlib's compress2 / uncompress; returns zlib's codes (Z_OK, Z_BUF_ERROR, ...).
int ZlibCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t* pDstLen,
                 int nLevel);
int ZlibUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                   uint32_t* pDstLen);

// LZO1X-1 worst case output size for n input bytes.
constexpr uint64_t LzoCompressBound(uint32_t n) { return uint64_t{n} + n / 16 + 64 + 3; }

// LZO1X-1 into dst, which must hold LzoCompressBound(srcLen) bytes.
// Returns the bytes written, or -1 when the library fails.
int LzoCompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst);

// Bounded LZO1X decompression: returns the bytes produced, or -1 when the
// input is corrupt, does not fit dstCap, or has trailing bytes.
int LzoUncompress(const unsigned char* src, uint32_t srcLen, unsigned char* dst, uint32_t dstCap);
