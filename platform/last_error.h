// The thread's last error on failure paths. Every operation that fails sets
// it, and keeps it: the clean-up after a failure (closing a handle, deleting
// a temporary file, rolling a merge back) calls the system again, and any of
// those calls may set the last error; the caller must still see the error
// that made the operation fail.
#pragma once

#include "platform/win32.h"

// Sets the last error and returns the failure value, so a function can fail
// with one statement: return Fail(false, ERROR_FILE_NOT_FOUND);
template <typename TValue>
TValue Fail(TValue failValue, DWORD dwError) {
  SetLastError(dwError);
  return failValue;
}

// Saves the thread's last error when made and sets it back when it goes:
// whatever runs in its scope leaves the last error as it found it.
//   { CKeepLastError keep; DeleteFileA(strTemp.c_str()); }
class CKeepLastError {
 public:
  CKeepLastError() : m_dwError(GetLastError()) {}
  ~CKeepLastError() { SetLastError(m_dwError); }
  CKeepLastError(const CKeepLastError&) = delete;
  CKeepLastError& operator=(const CKeepLastError&) = delete;

  // The error kept.
  DWORD Error() const { return m_dwError; }

 private:
  DWORD m_dwError;
};

// The first failure of an operation that goes on after it (cleaning up,
// stopping its workers): the error of the first Fail() is the last error
// again when the object goes, whatever ran in between. Declared before
// what the clean-up runs in (a pipeline, a handle), so that it goes last.
//   CFirstError first;
//   CScopedHandle hFile(...);
//   if (!Step1()) first.Fail();
//   return first.Ok();  // hFile closes, then Step1's error is set again
class CFirstError {
 public:
  CFirstError() = default;
  ~CFirstError() { Keep(); }
  CFirstError(const CFirstError&) = delete;
  CFirstError& operator=(const CFirstError&) = delete;

  // Records the thread's last error, or ERROR_GEN_FAILURE when a failure
  // left none, unless a failure was recorded before. Returns false.
  bool Fail() { return Fail(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE); }
  // Records dwError unless a failure was recorded before. Returns false.
  bool Fail(DWORD dwError) {
    if (m_bFailed) return false;
    m_bFailed = true;
    m_dwError = dwError;
    SetLastError(dwError);
    return false;
  }

  // True while no failure was recorded.
  bool Ok() const { return !m_bFailed; }
  DWORD Error() const { return m_dwError; }

  // Sets the last error to the first failure's, if there was one.
  void Keep() const {
    if (m_bFailed) SetLastError(m_dwError);
  }

 private:
  bool m_bFailed = false;
  DWORD m_dwError = ERROR_SUCCESS;
};
