// The statement of a signed update and the signature file that carries it
// (formats in packsign.h).
#pragma once

#include <string>

#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/packsign.h"

// The statement's text in format 2, header line first: the bytes that are
// signed. The statement must pass CheckStatement.
std::string StatementText(const PackStatement& statement);

// The signature line that follows the statement in its file.
std::string SignatureLine(const unsigned char* pbySignature);

// A signature file as read.
struct CSignedStatement {
  PackStatement statement;
  std::string strSigned;  // the statement's bytes as they are in the file
  unsigned char bySignature[kEd25519SignatureSize] = {};
};

// Parses a signature file's text strictly (format 1 or 2): the header
// line, each statement field once in any order ("remove" as often as
// needed), each value in its form, then the signature line and nothing
// after it. Returns kNone, or the first fault found with strField naming
// the field it is about (when there is one).
SigFileFault ParseSignatureFile(const std::string& strText, CSignedStatement& parsed, std::string& strField);

// Parses an unsigned statement (format 2, no signature line) as strictly.
SigFileFault ParseStatementText(const std::string& strText, PackStatement& statement, std::string& strField);
