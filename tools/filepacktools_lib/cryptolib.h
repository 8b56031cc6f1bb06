// libgcrypt, set up once for the whole library: the content tags' MD5, the
// update digests' SHA-512 and the Ed25519 signatures all come from it.
#pragma once

// True when libgcrypt is initialised and usable. The first call checks its
// version and finishes its initialisation; later calls, from any thread,
// only read the result. A host program that set the library up itself
// keeps its own settings. Secure memory is not used: it needs locked pages,
// which an ordinary user may not get, and the only secret handled is a
// signing key on the publisher's own machine.
bool CryptoReady();
