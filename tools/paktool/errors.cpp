#include "tools/paktool/errors.h"

#include "tools/paktool/output.h"

namespace paktool {

std::string ErrorText(DWORD dwError) {
  switch (dwError) {
    case ERROR_SUCCESS:
      return "failed, and the system gave no reason";
    case ERROR_FILE_NOT_FOUND:
      return "file not found";
    case ERROR_PATH_NOT_FOUND:
      return "path not found";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "too many open files";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "not enough memory";
    case ERROR_INVALID_DATA:
      return "not a valid pack or update";
    case ERROR_NOT_SAME_DEVICE:
      return "cannot move a file to another drive";
    case ERROR_WRITE_PROTECT:
      return "write-protected";
    case ERROR_SHARING_VIOLATION:
      return "in use by another program";
    case ERROR_LOCK_VIOLATION:
      return "locked by another program";
    case ERROR_HANDLE_EOF:
      return "the file ends too early";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return "disk full";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "already exists";
    case ERROR_INVALID_PARAMETER:
      return "invalid argument";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return "invalid file name";
    case ERROR_FILENAME_EXCED_RANGE:
      return "name or path too long";
    case ERROR_FILE_TOO_LARGE:
      return "too large: a pack and its entries stay below 4 GiB";
    case ERROR_DIRECTORY:
      return "not a directory";
    case ERROR_FILE_INVALID:
      return "not a valid pack: its regions do not fit the file";
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return "input/output error";
    default:
      return "system error " + std::to_string(dwError);
  }
}

void ReportFailure(const std::string& strSubject, const std::string& strReason) {
  PrintErrorLine("paktool: " + strSubject + ": " + strReason);
}

void ReportError(const std::string& strSubject, DWORD dwError) { ReportFailure(strSubject, ErrorText(dwError)); }

int UsageError(const std::string& strCommand, const std::string& strText) {
  PrintErrorLine("paktool " + strCommand + ": " + strText);
  PrintErrorLine("Run 'paktool " + strCommand + " --help' for more information.");
  return kExitUsage;
}

}  // namespace paktool
