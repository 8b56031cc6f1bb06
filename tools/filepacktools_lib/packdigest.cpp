// The size and SHA-512 digest of a whole pack file, as statements record it.
#include <gcrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/cryptolib.h"
#include "tools/filepacktools_lib/packsign.h"

namespace {

// Reads in pieces of this size: large enough for few calls, small enough
// to stay in the cache while it is digested.
constexpr DWORD kReadChunk = 1 << 20;

}  // namespace

CPackDigester::CPackDigester() {
  gcry_md_hd_t pContext = nullptr;
  if (CryptoReady() && gcry_md_open(&pContext, GCRY_MD_SHA512, 0) == 0) m_pContext = pContext;
}

CPackDigester::~CPackDigester() { gcry_md_close(m_pContext); }

void CPackDigester::Add(const void* pData, size_t nSize) {
  m_qwSize += nSize;
  if (m_pContext != nullptr && nSize > 0) gcry_md_write(m_pContext, pData, nSize);
}

bool CPackDigester::Finish(PackDigest& digest) {
  const unsigned char* pbyHash = m_pContext != nullptr ? gcry_md_read(m_pContext, GCRY_MD_SHA512) : nullptr;
  if (pbyHash == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  digest.qwSize = m_qwSize;
  std::memcpy(digest.byHash, pbyHash, kPackDigestSize);
  gcry_md_close(m_pContext);
  m_pContext = nullptr;
  return true;
}

bool DigestPackHandle(HANDLE hFile, PackDigest& digest) {
  LARGE_INTEGER liPos;
  if (!SeekFile(hFile, liPos, 0)) return false;
  CPackDigester digester;
  std::vector<unsigned char> vecBuffer(kReadChunk);
  for (;;) {
    DWORD dwRead = 0;
    if (!ReadFile(hFile, vecBuffer.data(), kReadChunk, &dwRead, nullptr)) return false;
    if (dwRead == 0) break;
    digester.Add(vecBuffer.data(), dwRead);
  }
  return digester.Finish(digest);
}

bool DigestPackBytes(const void* pData, uint64_t qwSize, PackDigest& digest) {
  CPackDigester digester;
  const unsigned char* pbyData = static_cast<const unsigned char*>(pData);
  // Pieces a size_t carries on every platform.
  for (uint64_t qwDone = 0; qwDone < qwSize; qwDone += kReadChunk) {
    digester.Add(pbyData + qwDone, static_cast<size_t>(std::min<uint64_t>(kReadChunk, qwSize - qwDone)));
  }
  return digester.Finish(digest);
}

bool DigestPackFile(const std::string& strPath, PackDigest& digest) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return hFile && DigestPackHandle(hFile.Get(), digest);
}
