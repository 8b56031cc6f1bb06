// The configure-time check of an updater key (cmake/UpdateKeys.cmake),
// built for the build machine with its own libgcrypt, also when the
// updater is cross-built: prints the key's id when the 64 hex digits are an
// Ed25519 public key, by the very function the library checks keys with.
//   updatekeycheck HEX   exit 0: the id on standard output; 1: not a point;
//                        2: not 64 lower-case hex digits; 3: no libgcrypt
#include <cstdio>
#include <cstring>

#include "tools/filepacktools_lib/ed25519.h"

namespace {

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2 || std::strlen(argv[1]) != 2 * kEd25519KeySize) return 2;
  unsigned char byKey[kEd25519KeySize];
  for (size_t i = 0; i < kEd25519KeySize; ++i) {
    const int nHigh = HexValue(argv[1][2 * i]);
    const int nLow = HexValue(argv[1][2 * i + 1]);
    if (nHigh < 0 || nLow < 0) return 2;
    byKey[i] = static_cast<unsigned char>(nHigh * 16 + nLow);
  }
  if (!Ed25519Ready()) return 3;
  if (!Ed25519IsPublicKey(byKey)) return 1;
  unsigned char byId[kEd25519KeyIdSize];
  if (!Ed25519KeyId(byKey, byId)) return 3;
  for (unsigned char by : byId) std::printf("%02x", by);
  std::printf("\n");
  return 0;
}
