#include "tools/filepacktools_lib/cryptolib.h"

#include <gcrypt.h>

bool CryptoReady() {
  // The initialisation of a function-local static runs exactly once even
  // when threads race to it; libgcrypt wants its version checked before
  // any other call.
  static const bool s_bReady = [] {
    if (!gcry_check_version(GCRYPT_VERSION)) return false;
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return true;
  }();
  return s_bReady;
}
