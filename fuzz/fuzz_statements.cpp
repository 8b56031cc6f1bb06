#include "fuzz/fuzz_statements.h"

#include <stdexcept>

#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/hextext.h"

namespace {

PackSecretKey MakeKey(unsigned char byFirst) {
  PackSecretKey key;
  for (size_t i = 0; i < kPackKeySize; ++i) key.bySeed[i] = static_cast<unsigned char>(byFirst + i);
  if (!Ed25519PublicKey(key.bySeed, key.publicKey.byKey)) throw std::runtime_error("libgcrypt refuses Ed25519");
  return key;
}

std::string Hex64(char ch) { return std::string(64, ch); }

}  // namespace

const PackSecretKey& FuzzSigningKey() {
  static const PackSecretKey s_key = MakeKey(1);
  return s_key;
}

const PackSecretKey& FuzzStrangerKey() {
  static const PackSecretKey s_key = MakeKey(101);
  return s_key;
}

const PackDigest& FuzzPackDigest() {
  static const PackDigest s_digest = [] {
    const std::string strPack = "the update pack every statement is held against";
    PackDigest digest;
    if (!DigestPackBytes(strPack.data(), strPack.size(), digest)) throw std::runtime_error("no SHA-512");
    return digest;
  }();
  return s_digest;
}

std::string SignedFile(const PackStatement& statement, const PackSecretKey& key) {
  if (statement.nFormat == 2) {
    std::string strText;
    if (!MakePackSignature(statement, key, strText)) throw std::runtime_error("a statement of the seeds is refused");
    return strText;
  }
  const std::string strStatement = "patchloom-update-statement 1\nproduct " + statement.strProduct + "\nsize " +
                                   std::to_string(statement.digest.qwSize) + "\nsha512 " +
                                   HexText(statement.digest.byHash, kPackDigestSize) + "\nversion " +
                                   statement.strVersion + "\n";
  unsigned char bySignature[kEd25519SignatureSize];
  if (!Ed25519Sign(key.bySeed, strStatement, bySignature)) throw std::runtime_error("libgcrypt refuses to sign");
  return strStatement + "signature " + HexText(bySignature, kEd25519SignatureSize) + "\n";
}

std::vector<PackStatement> FuzzStatements() {
  PackStatement base;
  base.strProduct = kPackProduct;
  base.digest = FuzzPackDigest();
  base.strVersion = "1.02";
  base.strBase = kAnyBase;
  PackStatement old = base;
  old.nFormat = 1;
  PackStatement bound = base;
  bound.strVersion = "1.10.3";
  bound.strBase = "1.9";
  bound.strBaseRelease = Hex64('a');
  bound.strRelease = Hex64('b');
  bound.vecRemove = {"res\\old.txt", "res\\ui\\gone.dat", "res\\\xB5\xD8\xCD\xBC\\\xB3\xC7.map"};
  PackStatement bare = bound;
  bare.strBaseRelease.clear();
  bare.strRelease.clear();
  bare.vecRemove.clear();
  PackStatement whole = base;
  whole.strVersion = "2";
  whole.strRelease = Hex64('c');
  return {old, base, bound, bare, whole};
}
