// Every PackEntry is preceded by a small prefix naming the block it lies in,
// or none for a record allocated alone. A block is one VirtualAlloc region:
// a header, then the records, each behind its prefix; it counts its holder
// (the CEntryBlock that fills it) and every record handed out.
#include "tools/filepacktools_lib/packentryblock.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/win32.h"

struct CEntryBlockHeader {
  std::atomic<size_t> nHolders;

  void Release() {
    if (nHolders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    this->~CEntryBlockHeader();
    VirtualFree(this, 0, MEM_RELEASE);
  }
};

namespace {

// Keeps the records as aligned as operator new would.
struct alignas(16) CEntryPrefix {
  CEntryBlockHeader* pBlock;  // null: allocated alone
};

constexpr size_t kSlotSize = sizeof(CEntryPrefix) + ((sizeof(PackEntry) + 15) / 16) * 16;
constexpr size_t kHeaderSize = ((sizeof(CEntryBlockHeader) + 15) / 16) * 16;

CEntryPrefix* PrefixOf(void* pRecord) { return static_cast<CEntryPrefix*>(pRecord) - 1; }

}  // namespace

void* PackEntry::operator new(size_t nSize) {
  CEntryPrefix* pPrefix = static_cast<CEntryPrefix*>(::operator new(sizeof(CEntryPrefix) + nSize));
  pPrefix->pBlock = nullptr;
  return pPrefix + 1;
}

void PackEntry::operator delete(void* pRecord) noexcept {
  if (!pRecord) return;
  CEntryPrefix* pPrefix = PrefixOf(pRecord);
  if (pPrefix->pBlock) {
    pPrefix->pBlock->Release();
  } else {
    ::operator delete(pPrefix);
  }
}

CEntryBlock::CEntryBlock(size_t nCount) : m_pHeader(nullptr), m_nCount(nCount) {
  if (nCount == 0 || nCount > (SIZE_MAX - kHeaderSize) / kSlotSize) return;
  void* pBase = VirtualAlloc(nullptr, kHeaderSize + nCount * kSlotSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (pBase) m_pHeader = new (pBase) CEntryBlockHeader{{1}};
}

CEntryBlock::~CEntryBlock() {
  if (m_pHeader) m_pHeader->Release();
}

std::unique_ptr<PackEntry> CEntryBlock::Copy(const unsigned char* pbyRecord) {
  PackEntry* pEntry = nullptr;
  if (m_pHeader && m_nUsed < m_nCount) {
    unsigned char* pbySlot = reinterpret_cast<unsigned char*>(m_pHeader) + kHeaderSize + m_nUsed++ * kSlotSize;
    CEntryPrefix* pPrefix = new (pbySlot) CEntryPrefix{m_pHeader};
    m_pHeader->nHolders.fetch_add(1, std::memory_order_relaxed);
    pEntry = ::new (pPrefix + 1) PackEntry;
  } else {
    pEntry = new PackEntry;
  }
  std::memcpy(pEntry, pbyRecord, kPackEntrySize);
  return std::unique_ptr<PackEntry>(pEntry);
}
