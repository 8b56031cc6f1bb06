// Error reports: "paktool: SUBJECT: REASON" on standard error, the subject
// being the file or name the failure is about, the reason in words.
#pragma once

#include <string>

#include "platform/win32.h"

namespace paktool {

// A Win32 error code in words: the codes a pack tool meets ("file not
// found", "access denied", "in use by another program", "disk full", ...);
// any other as "system error N".
std::string ErrorText(DWORD dwError);

// Reports a failure about strSubject (code page 936) with a reason.
void ReportFailure(const std::string& strSubject, const std::string& strReason);

// Reports a failure about strSubject with the reason a Win32 error gives.
void ReportError(const std::string& strSubject, DWORD dwError);

// Reports a usage error of a command and returns kExitUsage.
int UsageError(const std::string& strCommand, const std::string& strText);

}  // namespace paktool
