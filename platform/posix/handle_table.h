// Win32 handles: heap objects with a kind tag, kept in a table so that a
// stale, foreign or garbage handle is recognised instead of dereferenced.
#pragma once

#include <memory>

#include "platform/posix/win32_posix.h"

enum EHandleKind : unsigned {
  kHandleFile = 1,
  kHandleMapping = 2,
  kHandleFind = 4,
  kHandleSnapshot = 8,
  kHandleProcess = 16,
  kHandleThread = 32,
};

class CHandleObject {
 public:
  explicit CHandleObject(EHandleKind eKind) : m_eKind(eKind) {}
  virtual ~CHandleObject() = default;
  CHandleObject(const CHandleObject&) = delete;
  CHandleObject& operator=(const CHandleObject&) = delete;

  EHandleKind Kind() const { return m_eKind; }

 private:
  EHandleKind m_eKind;
};

// Enters the object in the table; the handle is its address.
HANDLE RegisterHandle(std::shared_ptr<CHandleObject> spObject);

// The object behind a live handle of one of the kinds in nKindMask, or null
// with ERROR_INVALID_HANDLE set. The caller's reference keeps the object
// alive even if another thread closes the handle meanwhile.
std::shared_ptr<CHandleObject> LookupHandle(HANDLE hObject, unsigned nKindMask);

template <typename TObject>
std::shared_ptr<TObject> LookupHandleAs(HANDLE hObject) {
  return std::static_pointer_cast<TObject>(LookupHandle(hObject, TObject::kKind));
}

// Removes a live handle of one of the kinds in nKindMask; false with
// ERROR_INVALID_HANDLE when there is none.
bool ReleaseHandle(HANDLE hObject, unsigned nKindMask);
