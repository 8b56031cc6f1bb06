// Entry streams: one entry's plain bytes, copied out of the pack, read like
// a file.
#include "tools/filepacktools_lib/packstream.h"

#include <cstring>
#include <new>

#include "platform/last_error.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

// The entry name a caller's path stands for: slashes become backslashes,
// A-Z is folded, the root name is inserted after the first component and
// the name is taken from the first occurrence of the root; a final run of
// spaces is dropped. False when the path has no separator or no root.
bool EntryNameOf(const std::string& strRootName, const std::string& strRoot, const char* pszFilePath,
                 std::string& strName) {
  std::string strPath(pszFilePath);
  CPackFile::ReplaceChar(strPath, '/', '\\');
  CPackFile::MakeLower(&strPath[0]);  // non-empty: the caller checked

  const size_t nFirstSep = strPath.find('\\');
  if (nFirstSep == std::string::npos) return false;
  strPath.insert(nFirstSep + 1, strRootName + '\\');

  const size_t nRoot = strPath.find(strRoot);
  if (nRoot == std::string::npos) return false;
  strName = strPath.substr(nRoot);
  const size_t nLastKept = strName.find_last_not_of(' ');
  strName.erase(nLastKept == std::string::npos ? 0 : nLastKept + 1);
  return true;
}

// The stream's buffer: takes over a decoded buffer (it already has the
// slack behind the data), or copies plain bytes into one of dwSize + 1.
unsigned char* TakeBytes(CEntryBytes& bytes, bool bCompressed) {
  if (bCompressed) return bytes.pbyBuffer.release();
  unsigned char* pbyData = new (std::nothrow) unsigned char[static_cast<size_t>(bytes.dwSize) + 1];
  if (pbyData && bytes.dwSize > 0) std::memcpy(pbyData, bytes.pbyData, bytes.dwSize);
  return pbyData;
}

}  // namespace

PackStream* CPackFile::StreamOpen(const char* pszFilePath) {
  if (!pszFilePath || !pszFilePath[0]) return Fail<PackStream*>(nullptr, ERROR_INVALID_PARAMETER);
  if (!m_hFileMapping) return Fail<PackStream*>(nullptr, ERROR_INVALID_HANDLE);
  // Callers hand in MAX_PATH buffers; a longer path names nothing here.
  if (strnlen(pszFilePath, MAX_PATH) >= MAX_PATH) return Fail<PackStream*>(nullptr, ERROR_FILENAME_EXCED_RANGE);
  std::string strName;
  if (!EntryNameOf(FieldString(m_header.szRootName, kPackRootNameSize), m_strRootPath, pszFilePath, strName)) {
    return Fail<PackStream*>(nullptr, ERROR_FILE_NOT_FOUND);
  }
  auto itEntry = m_mapEntry.find(strName);
  if (itEntry == m_mapEntry.end()) return Fail<PackStream*>(nullptr, ERROR_FILE_NOT_FOUND);

  // A stream never holds bytes that did not decode.
  PackEntry& entry = *itEntry->second;
  CEntryBytes bytes;
  if (!Reader().ReadPlainBytes(entry, bytes)) return nullptr;
  PackStream* pStream = new (std::nothrow) PackStream();
  if (!pStream) return Fail<PackStream*>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
  pStream->pData = TakeBytes(bytes, m_byCompressed != 0);
  if (!pStream->pData) {
    delete pStream;
    return Fail<PackStream*>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
  }
  pStream->dwDataOffset = entry.dwOffset;
  pStream->dwSize = entry.dwOrigSize;
  pStream->pEntry = &entry;
  return pStream;
}

uint32_t CPackFile::StreamRead(void* buffer, uint32_t byteCount, uint32_t /*dwUnused*/, PackStream* stream) {
  if (byteCount == 0 || !buffer || !stream || !stream->pData || stream->dwPos >= stream->dwSize) return 0;
  const uint32_t dwLeft = stream->dwSize - stream->dwPos;
  const uint32_t dwCount = byteCount < dwLeft ? byteCount : dwLeft;
  std::memcpy(buffer, stream->pData + stream->dwPos, dwCount);
  StreamSeek(stream, stream->dwPos + dwCount, 0);
  return dwCount;
}

// The bound is tested before the origin, and origin 1 is absolute like 0:
// callers written against this behaviour rely on both.
int CPackFile::StreamSeek(PackStream* stream, uint32_t offset, int32_t origin) {
  if (!stream || offset > stream->dwSize) return -1;
  switch (origin) {
    case 0:
    case 1:
      stream->dwPos = offset;
      return 0;
    case 2:
      stream->dwPos = stream->dwSize;
      return 0;
    default:
      return -1;
  }
}

uint32_t CPackFile::StreamTell(PackStream* stream) { return stream ? stream->dwPos : 0; }

void CPackFile::StreamClose(PackStream* stream) {
  if (!stream) return;
  delete[] stream->pData;
  stream->pData = nullptr;
  delete stream;
}
