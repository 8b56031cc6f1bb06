// File mapping: CreateFileMappingA, MapViewOfFile, UnmapViewOfFile.
//
// A mapping object and every view made from it share one CSection, which
// holds the open file (so its share-mode record outlives a closed file
// handle, as the file object does on Windows) and counts the file as mapped
// while any of them exists.
#include "platform/posix/file_mapping.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"

namespace {

const uint64_t kAllocationGranularity = 65536;

typedef std::pair<dev_t, ino_t> CFileId;

class CSection;

struct CView {
  size_t m_nLength;
  std::shared_ptr<CSection> m_spSection;
};

// Process-wide bookkeeping: which files are mapped, and the views (the base
// address alone is what UnmapViewOfFile gets).
class CMapRegistry {
 public:
  void AddFile(const CFileId& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_mapMappedFiles[id];
  }

  void RemoveFile(const CFileId& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapMappedFiles.find(id);
    if (it != m_mapMappedFiles.end() && --it->second == 0) m_mapMappedFiles.erase(it);
  }

  bool IsFileMapped(const CFileId& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapMappedFiles.count(id) != 0;
  }

  void AddView(void* pBase, CView view) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapViews.emplace(static_cast<const char*>(pBase), std::move(view));
  }

  // Removes the view containing pAddress; false when there is none.
  bool RemoveView(const void* pAddress, void*& pBase, CView& view) {
    const char* pbyAddress = static_cast<const char*>(pAddress);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapViews.upper_bound(pbyAddress);
    if (it == m_mapViews.begin()) return false;
    --it;
    if (pbyAddress >= it->first + it->second.m_nLength) return false;
    pBase = const_cast<char*>(it->first);
    view = std::move(it->second);
    m_mapViews.erase(it);
    return true;
  }

 private:
  std::mutex m_mutex;
  std::map<CFileId, int> m_mapMappedFiles;
  std::map<const char*, CView> m_mapViews;
};

// Never destroyed: views may be unmapped from exit handlers.
CMapRegistry& Registry() {
  static CMapRegistry* s_pRegistry = new CMapRegistry;
  return *s_pRegistry;
}

class CSection {
 public:
  CSection(COpenFilePtr spFile, const CFileId& id, uint64_t nSize, bool bWritable)
      : m_spFile(std::move(spFile)), m_id(id), m_nSize(nSize), m_bWritable(bWritable) {
    Registry().AddFile(m_id);
  }
  ~CSection() { Registry().RemoveFile(m_id); }
  CSection(const CSection&) = delete;
  CSection& operator=(const CSection&) = delete;

  int Fd() const { return m_spFile->Get(); }
  uint64_t Size() const { return m_nSize; }
  bool IsWritable() const { return m_bWritable; }

 private:
  COpenFilePtr m_spFile;
  CFileId m_id;
  uint64_t m_nSize;
  bool m_bWritable;
};

class CMappingObject : public CHandleObject {
 public:
  static constexpr EHandleKind kKind = kHandleMapping;

  explicit CMappingObject(std::shared_ptr<CSection> spSection)
      : CHandleObject(kKind), m_spSection(std::move(spSection)) {}

  const std::shared_ptr<CSection>& Section() const { return m_spSection; }

 private:
  std::shared_ptr<CSection> m_spSection;
};

uint64_t JoinHighLow(DWORD dwHigh, DWORD dwLow) { return (static_cast<uint64_t>(dwHigh) << 32) | dwLow; }

DWORD CheckProtection(DWORD dwProtect, const CFileObject& file) {
  switch (dwProtect & 0xFF) {
    case PAGE_READONLY:
    case PAGE_WRITECOPY:
      return file.CanRead() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    case PAGE_READWRITE:
      return file.CanRead() && file.CanWrite() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

// The size of the new mapping; a read-write mapping larger than the file
// extends it, as on Windows.
DWORD SizeMapping(int nFd, const struct stat& st, bool bWritable, uint64_t& nSize) {
  uint64_t nFileSize = static_cast<uint64_t>(st.st_size);
  if (nSize == 0) {
    nSize = nFileSize;
    return nSize == 0 ? ERROR_FILE_INVALID : ERROR_SUCCESS;
  }
  if (nSize <= nFileSize) return ERROR_SUCCESS;
  if (!bWritable) return ERROR_NOT_ENOUGH_MEMORY;
  if (nSize > static_cast<uint64_t>(INT64_MAX) || ftruncate(nFd, static_cast<off_t>(nSize)) != 0)
    return nSize > static_cast<uint64_t>(INT64_MAX) ? ERROR_NOT_ENOUGH_MEMORY : Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

HANDLE CreateFileMappingImpl(HANDLE hFile, DWORD dwProtect, DWORD dwSizeHigh, DWORD dwSizeLow, LPCSTR pszName) {
  // Named and page-file-backed sections have no use in this program.
  if (pszName != nullptr) return Fail(static_cast<HANDLE>(nullptr), ERROR_NOT_SUPPORTED);
  std::shared_ptr<CFileObject> spFile = LookupHandleAs<CFileObject>(hFile);
  if (!spFile) return nullptr;
  DWORD dwError = CheckProtection(dwProtect, *spFile);
  if (dwError != ERROR_SUCCESS) return Fail(static_cast<HANDLE>(nullptr), dwError);
  struct stat st;
  if (fstat(spFile->Fd(), &st) != 0) return FailErrno(static_cast<HANDLE>(nullptr), errno);
  bool bWritable = (dwProtect & 0xFF) == PAGE_READWRITE;
  uint64_t nSize = JoinHighLow(dwSizeHigh, dwSizeLow);
  dwError = SizeMapping(spFile->Fd(), st, bWritable, nSize);
  if (dwError != ERROR_SUCCESS) return Fail(static_cast<HANDLE>(nullptr), dwError);
  auto spSection = std::make_shared<CSection>(spFile->File(), CFileId(st.st_dev, st.st_ino), nSize, bWritable);
  HANDLE hMapping = RegisterHandle(std::make_shared<CMappingObject>(std::move(spSection)));
  SetLastError(ERROR_SUCCESS);
  return hMapping;
}

// Validates a view request against the mapping and the file as it is now;
// a view reaching past the end of the file would fault on first touch.
DWORD CheckViewRange(const CSection& section, uint64_t nOffset, uint64_t& nLength) {
  if (nOffset % kAllocationGranularity != 0) return ERROR_MAPPED_ALIGNMENT;
  if (nOffset >= section.Size() || nLength > section.Size() - nOffset) return ERROR_ACCESS_DENIED;
  if (nLength == 0) nLength = section.Size() - nOffset;
  if (nLength > SIZE_MAX) return ERROR_NOT_ENOUGH_MEMORY;
  struct stat st;
  if (fstat(section.Fd(), &st) != 0) return Win32ErrorFromErrno(errno);
  if (nOffset + nLength > static_cast<uint64_t>(st.st_size)) return ERROR_HANDLE_EOF;
  return ERROR_SUCCESS;
}

LPVOID MapViewImpl(HANDLE hMapping, DWORD dwAccess, DWORD dwOffsetHigh, DWORD dwOffsetLow, SIZE_T nBytes) {
  std::shared_ptr<CMappingObject> spMapping = LookupHandleAs<CMappingObject>(hMapping);
  if (!spMapping) return nullptr;
  const std::shared_ptr<CSection>& spSection = spMapping->Section();
  bool bCopy = dwAccess == FILE_MAP_COPY;
  bool bWrite = (dwAccess & FILE_MAP_WRITE) != 0;
  if (!bCopy && !bWrite && (dwAccess & FILE_MAP_READ) == 0)
    return Fail(static_cast<LPVOID>(nullptr), ERROR_INVALID_PARAMETER);
  if (bWrite && !spSection->IsWritable()) return Fail(static_cast<LPVOID>(nullptr), ERROR_ACCESS_DENIED);
  uint64_t nOffset = JoinHighLow(dwOffsetHigh, dwOffsetLow);
  uint64_t nLength = nBytes;
  DWORD dwError = CheckViewRange(*spSection, nOffset, nLength);
  if (dwError != ERROR_SUCCESS) return Fail(static_cast<LPVOID>(nullptr), dwError);
  int nProtect = PROT_READ | (bWrite || bCopy ? PROT_WRITE : 0);
  void* pBase = mmap(nullptr, static_cast<size_t>(nLength), nProtect, bCopy ? MAP_PRIVATE : MAP_SHARED, spSection->Fd(),
                     static_cast<off_t>(nOffset));
  if (pBase == MAP_FAILED) return FailErrno(static_cast<LPVOID>(nullptr), errno);
  Registry().AddView(pBase, CView{static_cast<size_t>(nLength), spSection});
  return pBase;
}

BOOL UnmapViewImpl(LPCVOID pAddress) {
  void* pBase = nullptr;
  CView view = {0, nullptr};
  if (!Registry().RemoveView(pAddress, pBase, view)) return Fail(FALSE, ERROR_INVALID_ADDRESS);
  if (munmap(pBase, view.m_nLength) != 0) return FailErrno(FALSE, errno);
  return TRUE;
}

}  // namespace

bool IsFileMapped(const struct stat& st) { return Registry().IsFileMapped(CFileId(st.st_dev, st.st_ino)); }

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                            DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                                            LPCSTR lpName) {
  (void)lpFileMappingAttributes;
  return GuardWin32(static_cast<HANDLE>(nullptr), [&] {
    return CreateFileMappingImpl(hFile, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow, lpName);
  });
}

extern "C" LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                       DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  return GuardWin32(static_cast<LPVOID>(nullptr), [&] {
    return MapViewImpl(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh, dwFileOffsetLow, dwNumberOfBytesToMap);
  });
}

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  return GuardWin32(FALSE, [&] { return UnmapViewImpl(lpBaseAddress); });
}
