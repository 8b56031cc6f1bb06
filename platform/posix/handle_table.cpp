#include "platform/posix/handle_table.h"

#include <mutex>
#include <unordered_map>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"

namespace {

class CHandleTable {
 public:
  HANDLE Add(std::shared_ptr<CHandleObject> spObject) {
    HANDLE hObject = spObject.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapObjects.emplace(hObject, std::move(spObject));
    return hObject;
  }

  std::shared_ptr<CHandleObject> Find(HANDLE hObject, unsigned nKindMask) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapObjects.find(hObject);
    if (it == m_mapObjects.end() || (it->second->Kind() & nKindMask) == 0) return nullptr;
    return it->second;
  }

  std::shared_ptr<CHandleObject> Remove(HANDLE hObject, unsigned nKindMask) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapObjects.find(hObject);
    if (it == m_mapObjects.end() || (it->second->Kind() & nKindMask) == 0) return nullptr;
    std::shared_ptr<CHandleObject> spObject = std::move(it->second);
    m_mapObjects.erase(it);
    return spObject;
  }

 private:
  std::mutex m_mutex;
  std::unordered_map<HANDLE, std::shared_ptr<CHandleObject>> m_mapObjects;
};

// Never destroyed, so handles closed from exit handlers or late threads are
// still answered.
CHandleTable& Table() {
  static CHandleTable* s_pTable = new CHandleTable;
  return *s_pTable;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<CHandleObject> spObject) { return Table().Add(std::move(spObject)); }

std::shared_ptr<CHandleObject> LookupHandle(HANDLE hObject, unsigned nKindMask) {
  std::shared_ptr<CHandleObject> spObject = Table().Find(hObject, nKindMask);
  if (!spObject) SetLastError(ERROR_INVALID_HANDLE);
  return spObject;
}

bool ReleaseHandle(HANDLE hObject, unsigned nKindMask) {
  // The object dies here, outside the table lock, unless a caller still
  // holds it.
  std::shared_ptr<CHandleObject> spObject = Table().Remove(hObject, nKindMask);
  if (!spObject) return Fail(false, ERROR_INVALID_HANDLE);
  return true;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
  // Search handles are closed with FindClose only, as on Windows.
  const unsigned nClosable = kHandleFile | kHandleMapping | kHandleSnapshot | kHandleProcess | kHandleThread;
  return GuardWin32(FALSE, [&] { return ReleaseHandle(hObject, nClosable) ? TRUE : FALSE; });
}
