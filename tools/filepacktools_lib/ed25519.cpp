#include "tools/filepacktools_lib/ed25519.h"

#include <gcrypt.h>

#include <cstring>

#include "tools/filepacktools_lib/cryptolib.h"

namespace {

// Owns an S-expression.
class CSexp {
 public:
  CSexp() = default;
  ~CSexp() { gcry_sexp_release(m_p); }
  CSexp(const CSexp&) = delete;
  CSexp& operator=(const CSexp&) = delete;
  gcry_sexp_t* Out() { return &m_p; }
  gcry_sexp_t Get() const { return m_p; }

 private:
  gcry_sexp_t m_p = nullptr;
};

const int kKeyBytes = static_cast<int>(kEd25519KeySize);

bool SecretKey(const unsigned char* pbySeed, CSexp& key) {
  return gcry_sexp_build(key.Out(), nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))", kKeyBytes,
                         pbySeed) == 0;
}

bool MessageData(const std::string& strMessage, CSexp& data) {
  return gcry_sexp_build(data.Out(), nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                         static_cast<int>(strMessage.size()), strMessage.data()) == 0;
}

// Copies the value of the token pszName below sexp, which must be exactly
// nSize bytes long.
bool TokenBytes(gcry_sexp_t sexp, const char* pszName, unsigned char* pbyOut, size_t nSize) {
  CSexp token;
  *token.Out() = gcry_sexp_find_token(sexp, pszName, 0);
  size_t nLength = 0;
  const char* pData = token.Get() ? gcry_sexp_nth_data(token.Get(), 1, &nLength) : nullptr;
  if (pData == nullptr || nLength != nSize) return false;
  std::memcpy(pbyOut, pData, nSize);
  return true;
}

}  // namespace

bool Ed25519Ready() {
  static const bool s_bReady =
      CryptoReady() && gcry_pk_test_algo(GCRY_PK_EDDSA) == 0 && gcry_md_test_algo(GCRY_MD_SHA512) == 0;
  return s_bReady;
}

bool Ed25519NewSeed(unsigned char* pbySeed) {
  if (!Ed25519Ready()) return false;
  gcry_randomize(pbySeed, kEd25519KeySize, GCRY_VERY_STRONG_RANDOM);
  return true;
}

bool Ed25519PublicKey(const unsigned char* pbySeed, unsigned char* pbyPublic) {
  CSexp key;
  if (!Ed25519Ready() || !SecretKey(pbySeed, key)) return false;
  gcry_ctx_t pContext = nullptr;
  if (gcry_mpi_ec_new(&pContext, key.Get(), nullptr) != 0) return false;
  // Derived from the seed, in the 32-byte encoding of RFC 8032.
  gcry_mpi_t pPoint = gcry_mpi_ec_get_mpi("q@eddsa", pContext, 1);
  unsigned int nBits = 0;
  const void* pBytes = pPoint ? gcry_mpi_get_opaque(pPoint, &nBits) : nullptr;
  const bool bOk = pBytes != nullptr && nBits == 8 * kEd25519KeySize;
  if (bOk) std::memcpy(pbyPublic, pBytes, kEd25519KeySize);
  gcry_mpi_release(pPoint);
  gcry_ctx_release(pContext);
  return bOk;
}

bool Ed25519Sign(const unsigned char* pbySeed, const std::string& strMessage, unsigned char* pbySignature) {
  CSexp key;
  CSexp data;
  CSexp signature;
  if (!Ed25519Ready() || !SecretKey(pbySeed, key) || !MessageData(strMessage, data)) return false;
  if (gcry_pk_sign(signature.Out(), data.Get(), key.Get()) != 0) return false;
  const size_t nHalf = kEd25519SignatureSize / 2;
  return TokenBytes(signature.Get(), "r", pbySignature, nHalf) &&
         TokenBytes(signature.Get(), "s", pbySignature + nHalf, nHalf);
}

bool Ed25519Verify(const unsigned char* pbyPublic, const std::string& strMessage, const unsigned char* pbySignature) {
  CSexp key;
  CSexp data;
  CSexp signature;
  const int nHalf = static_cast<int>(kEd25519SignatureSize / 2);
  return Ed25519Ready() &&
         gcry_sexp_build(key.Out(), nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))", kKeyBytes,
                         pbyPublic) == 0 &&
         MessageData(strMessage, data) &&
         gcry_sexp_build(signature.Out(), nullptr, "(sig-val(eddsa(r %b)(s %b)))", nHalf, pbySignature, nHalf,
                         pbySignature + nHalf) == 0 &&
         gcry_pk_verify(signature.Get(), data.Get(), key.Get()) == 0;
}

void WipeBytes(void* pData, size_t nSize) {
  volatile unsigned char* pbyData = static_cast<volatile unsigned char*>(pData);
  for (size_t i = 0; i < nSize; ++i) pbyData[i] = 0;
}
