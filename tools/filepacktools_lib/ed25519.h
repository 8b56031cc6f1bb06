// Ed25519 (pure, RFC 8032) through libgcrypt, on raw keys: a 32-byte seed
// (the secret key), a 32-byte public key and 64-byte signatures.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;

// True when libgcrypt is ready and offers Ed25519 and SHA-512.
bool Ed25519Ready();

// Fills pbySeed with a fresh secret key from libgcrypt's strongest random
// source. Returns false when libgcrypt is not ready.
bool Ed25519NewSeed(unsigned char* pbySeed);

// Writes the public key of a seed to pbyPublic. Returns false when
// libgcrypt refuses.
bool Ed25519PublicKey(const unsigned char* pbySeed, unsigned char* pbyPublic);

// Signs the message with the seed. Returns false when libgcrypt refuses.
bool Ed25519Sign(const unsigned char* pbySeed, const std::string& strMessage, unsigned char* pbySignature);

// True when the signature of the message verifies with the public key
// (false also for a public key that is no curve point). The key must be one
// Ed25519IsPublicKey accepts: libgcrypt ends the process on some others
// (1.10 aborts on the neutral element).
bool Ed25519Verify(const unsigned char* pbyPublic, const std::string& strMessage, const unsigned char* pbySignature);

// True when the 32 bytes are a public key: the RFC 8032 encoding of a
// point of the curve (y below 2^255 - 19, x recoverable from it, no sign
// on x = 0) that is not one of its eight points of small order (which no
// secret key gives and with which any signature of a fitting form
// verifies). Computed on plain numbers, without libgcrypt's curve code.
// False too when libgcrypt is not ready.
bool Ed25519IsPublicKey(const unsigned char* pbyPublic);

constexpr size_t kEd25519KeyIdSize = 8;

// A key's id: the first 8 bytes of the SHA-512 of the 32 public key bytes.
// Returns false when libgcrypt is not ready.
bool Ed25519KeyId(const unsigned char* pbyPublic, unsigned char* pbyId);

// Overwrites nSize bytes with zeros in a way the compiler keeps.
void WipeBytes(void* pData, size_t nSize);
