#include "tools/filepacktools_lib/contenttag.h"

#include <gcrypt.h>

#include <string>

#include "platform/win32.h"
#include "tools/filepacktools_lib/cryptolib.h"
#include "tools/filepacktools_lib/hextext.h"
#include "tools/filepacktools_lib/packrecords.h"

namespace {

constexpr size_t kMd5Size = 16;
static_assert(2 * kMd5Size == kPackTagSize, "the hex digest fills the tag field");

// MD5 is refused in FIPS mode; asked once.
bool DigestReady() {
  static const bool s_bReady = CryptoReady() && gcry_md_test_algo(GCRY_MD_MD5) == 0;
  return s_bReady;
}

}  // namespace

bool MakeContentTag(const void* pData, size_t nSize, char* pszTag) {
  if (!DigestReady()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  gcry_buffer_t buffer = {};
  buffer.size = nSize;
  buffer.len = nSize;
  buffer.data = const_cast<void*>(pData);
  unsigned char byDigest[kMd5Size];
  if (gcry_md_hash_buffers(GCRY_MD_MD5, 0, byDigest, &buffer, 1) != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  WriteHex(byDigest, kMd5Size, pszTag);
  return true;
}

bool IsContentTag(const char* pszTag) {
  unsigned char byDigest[kMd5Size];
  return ParseHex(std::string(pszTag, kPackTagSize), byDigest, kMd5Size);
}
