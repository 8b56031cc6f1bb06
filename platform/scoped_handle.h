// Owners for Win32 handles and views, so every one is released on every
// path.
#pragma once

#include <cstdint>

#include "platform/last_error.h"
#include "platform/win32.h"

// A file or file-mapping handle; null means "none".
// CreateFileA's INVALID_HANDLE_VALUE is stored as null.
class CScopedHandle {
 public:
  CScopedHandle() = default;
  explicit CScopedHandle(HANDLE h) { Reset(h); }
  ~CScopedHandle() { Reset(); }
  CScopedHandle(const CScopedHandle&) = delete;
  CScopedHandle& operator=(const CScopedHandle&) = delete;
  CScopedHandle(CScopedHandle&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
  CScopedHandle& operator=(CScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_h = other.m_h;
      other.m_h = nullptr;
    }
    return *this;
  }

  HANDLE Get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }

  // Closes the handle held (keeping the thread's last error) and takes h.
  void Reset(HANDLE h = nullptr) {
    if (m_h) {
      CKeepLastError keep;
      CloseHandle(m_h);
    }
    m_h = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
  }

 private:
  HANDLE m_h = nullptr;
};

// A view of a file mapping covering [qwOffset, qwOffset + qwLength). Views
// must start at a multiple of the allocation granularity, so the view starts
// at the multiple below qwOffset and Data() points at qwOffset's byte.
class CMappedView {
 public:
  CMappedView() = default;
  ~CMappedView() { Unmap(); }
  CMappedView(const CMappedView&) = delete;
  CMappedView& operator=(const CMappedView&) = delete;

  // Returns the address of qwOffset's byte, or null with the last error set.
  // A zero-length request maps nothing and returns a valid empty range. The
  // view is for reading only, so a mapping of a read-only file will do.
  const unsigned char* Map(HANDLE hMapping, uint64_t qwOffset, uint64_t qwLength, DWORD dwGranularity) {
    Unmap();
    if (qwLength == 0) return &m_byEmpty;
    uint64_t qwSlack = qwOffset % dwGranularity;
    uint64_t qwStart = qwOffset - qwSlack;
    uint64_t qwSize = qwLength + qwSlack;
    if (qwSize > static_cast<SIZE_T>(-1)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    m_pBase = MapViewOfFile(hMapping, FILE_MAP_READ, static_cast<DWORD>(qwStart >> 32), static_cast<DWORD>(qwStart),
                            static_cast<SIZE_T>(qwSize));
    if (!m_pBase) return nullptr;
    return static_cast<unsigned char*>(m_pBase) + qwSlack;
  }

  void Unmap() {
    if (m_pBase) {
      CKeepLastError keep;
      UnmapViewOfFile(m_pBase);
      m_pBase = nullptr;
    }
  }

 private:
  void* m_pBase = nullptr;
  unsigned char m_byEmpty = 0;
};

// A FindFirstFileA search handle, which FindClose (not CloseHandle) ends.
// INVALID_HANDLE_VALUE means "none".
class CFindHandle {
 public:
  explicit CFindHandle(HANDLE h) : m_h(h) {}
  ~CFindHandle() {
    CKeepLastError keep;  // a search ends with ERROR_NO_MORE_FILES, which callers read
    if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h);
  }
  CFindHandle(const CFindHandle&) = delete;
  CFindHandle& operator=(const CFindHandle&) = delete;
  HANDLE Get() const { return m_h; }
  explicit operator bool() const { return m_h != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_h;
};
