#include "tools/filepacktools_lib/contenttag.h"

#include <gcrypt.h>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packrecords.h"

namespace {

constexpr size_t kMd5Size = 16;
static_assert(2 * kMd5Size == kPackTagSize, "the hex digest fills the tag field");

// libgcrypt wants its version checked once before any other call; the
// initialisation of a function-local static runs exactly once even when
// threads race to it. A host program that set the library up itself keeps
// its own settings.
bool DigestReady() {
  static const bool s_bReady = [] {
    if (!gcry_check_version(GCRYPT_VERSION)) return false;
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);  // a digest of public data needs no secure memory
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return gcry_md_test_algo(GCRY_MD_MD5) == 0;
  }();
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
  static const char kHexDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < kMd5Size; ++i) {
    pszTag[2 * i] = kHexDigits[byDigest[i] >> 4];
    pszTag[2 * i + 1] = kHexDigits[byDigest[i] & 0x0F];
  }
  return true;
}
