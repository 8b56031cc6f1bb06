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

// Owns a multi-precision integer.
class CMpi {
 public:
  CMpi() : m_p(gcry_mpi_new(0)) {}
  ~CMpi() { gcry_mpi_release(m_p); }
  CMpi(const CMpi&) = delete;
  CMpi& operator=(const CMpi&) = delete;
  gcry_mpi_t Get() const { return m_p; }
  // Sets the value from big-endian hex digits or unsigned bytes.
  bool SetHex(const char* pszHex) { return Scan(GCRYMPI_FMT_HEX, pszHex, 0); }
  bool SetBytes(const unsigned char* pbyBig, size_t nSize) { return Scan(GCRYMPI_FMT_USG, pbyBig, nSize); }

 private:
  bool Scan(gcry_mpi_format eFormat, const void* pData, size_t nSize) {
    gcry_mpi_t pNew = nullptr;
    if (gcry_mpi_scan(&pNew, eFormat, pData, nSize, nullptr) != 0) return false;
    gcry_mpi_release(m_p);
    m_p = pNew;
    return true;
  }
  gcry_mpi_t m_p;
};

// The field's prime 2^255 - 19, the curve's constant d = -121665/121666,
// and the y of a point of order 8 (its negation is the other such y).
const char kPrimeHex[] = "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed";
const char kCurveDHex[] = "52036cee2b6ffe738cc740797779e89800700a4d4141d8ab75eb4dca135978a3";
const char kOrder8YHex[] = "05fc536d880238b13933c6d305acdfd5f098eff289f4c345b027b2c28f95e826";

// The y of the eight points of small order: 1 (the neutral element), p - 1
// (order 2), 0 (order 4) and the two of order 8; each y holds at most two
// points, of x and -x.
bool IsSmallOrderY(gcry_mpi_t pY, gcry_mpi_t pPrime) {
  CMpi order8;
  CMpi other8;
  CMpi minusOne;
  if (!order8.SetHex(kOrder8YHex)) return true;
  gcry_mpi_sub(other8.Get(), pPrime, order8.Get());
  gcry_mpi_sub_ui(minusOne.Get(), pPrime, 1);
  return gcry_mpi_cmp_ui(pY, 0) == 0 || gcry_mpi_cmp_ui(pY, 1) == 0 || gcry_mpi_cmp(pY, minusOne.Get()) == 0 ||
         gcry_mpi_cmp(pY, order8.Get()) == 0 || gcry_mpi_cmp(pY, other8.Get()) == 0;
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
  return Ed25519IsPublicKey(pbyPublic) &&
         gcry_sexp_build(key.Out(), nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))", kKeyBytes,
                         pbyPublic) == 0 &&
         MessageData(strMessage, data) &&
         gcry_sexp_build(signature.Out(), nullptr, "(sig-val(eddsa(r %b)(s %b)))", nHalf, pbySignature, nHalf,
                         pbySignature + nHalf) == 0 &&
         gcry_pk_verify(signature.Get(), data.Get(), key.Get()) == 0;
}

// RFC 8032, 5.1.3: y is the low 255 bits (little-endian), the top bit x's
// sign; x^2 = (y^2 - 1) / (d y^2 + 1) must have a square root, which it has
// when it is 0 or its (p - 1)/2-th power is 1 (Euler's criterion).
bool Ed25519IsPublicKey(const unsigned char* pbyPublic) {
  if (!Ed25519Ready()) return false;
  unsigned char byBig[kEd25519KeySize];
  for (size_t i = 0; i < kEd25519KeySize; ++i) byBig[i] = pbyPublic[kEd25519KeySize - 1 - i];
  const bool bSign = (byBig[0] & 0x80) != 0;
  byBig[0] &= 0x7F;
  CMpi prime;
  CMpi curveD;
  CMpi y;
  if (!prime.SetHex(kPrimeHex) || !curveD.SetHex(kCurveDHex) || !y.SetBytes(byBig, sizeof(byBig))) return false;
  if (gcry_mpi_cmp(y.Get(), prime.Get()) >= 0 || IsSmallOrderY(y.Get(), prime.Get())) return false;
  CMpi y2;
  CMpi u;
  CMpi v;
  CMpi one;
  CMpi exponent;
  CMpi x2;
  gcry_mpi_set_ui(one.Get(), 1);
  gcry_mpi_mulm(y2.Get(), y.Get(), y.Get(), prime.Get());
  gcry_mpi_subm(u.Get(), y2.Get(), one.Get(), prime.Get());
  gcry_mpi_mulm(v.Get(), curveD.Get(), y2.Get(), prime.Get());
  gcry_mpi_addm(v.Get(), v.Get(), one.Get(), prime.Get());
  gcry_mpi_sub_ui(exponent.Get(), prime.Get(), 2);
  gcry_mpi_powm(v.Get(), v.Get(), exponent.Get(), prime.Get());  // 1 / v
  gcry_mpi_mulm(x2.Get(), u.Get(), v.Get(), prime.Get());
  if (gcry_mpi_cmp_ui(x2.Get(), 0) == 0) return !bSign;
  gcry_mpi_sub_ui(exponent.Get(), prime.Get(), 1);
  gcry_mpi_rshift(exponent.Get(), exponent.Get(), 1);
  CMpi euler;
  gcry_mpi_powm(euler.Get(), x2.Get(), exponent.Get(), prime.Get());
  return gcry_mpi_cmp_ui(euler.Get(), 1) == 0;
}

bool Ed25519KeyId(const unsigned char* pbyPublic, unsigned char* pbyId) {
  if (!Ed25519Ready()) return false;
  unsigned char byHash[64];
  gcry_md_hash_buffer(GCRY_MD_SHA512, byHash, pbyPublic, kEd25519KeySize);
  std::memcpy(pbyId, byHash, kEd25519KeyIdSize);
  return true;
}

void WipeBytes(void* pData, size_t nSize) {
  volatile unsigned char* pbyData = static_cast<volatile unsigned char*>(pData);
  for (size_t i = 0; i < nSize; ++i) pbyData[i] = 0;
}
