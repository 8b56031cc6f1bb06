// The statement of a signed update and the signature file that carries it
// (formats in packsign.h).
#pragma once

#include <string>

#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/packsign.h"

struct PackStatement {
  std::string strProduct;
  PackDigest digest;
  std::string strVersion;
};

// The statement's text, header line first: the bytes that are signed. The
// texts must pass IsStatementText.
std::string StatementText(const PackStatement& statement);

// The signature line that follows the statement in its file.
std::string SignatureLine(const unsigned char* pbySignature);

// A signature file as read.
struct CSignedStatement {
  PackStatement statement;
  std::string strSigned;  // the statement's bytes as they are in the file
  unsigned char bySignature[kEd25519SignatureSize] = {};
};

// Parses a signature file's text strictly: the header line, each statement
// field once in any order, each value in its form, then the signature line
// and nothing after it. Returns kNone, or the first fault found with
// strField naming the field it is about (when there is one).
SigFileFault ParseSignatureFile(const std::string& strText, CSignedStatement& parsed, std::string& strField);
