// Case-insensitive lookups need the names of the whole directory. Reading a
// directory of a few thousand entries takes about a millisecond, so a program
// that creates many files in one directory, or opens many files by names
// differing in case from the disk, would spend time quadratic in the size of
// the directory. Listings are therefore cached per directory inode, grouped
// by case-folded name, and kept exact with inotify: every creation, removal
// or rename in a cached directory, by this process or any other on this
// machine, queues an event before the call that made it returns, and each
// lookup applies the queued events first. A queue overflow drops the cache.
// Where inotify is unavailable, lookups read the directory every time.
// Changes inotify cannot see, such as those another machine makes on a
// network file system, may be missed by a cached listing.
#include "platform/posix/dir_cache.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/posix/dir_stream.h"
#include "platform/posix/name_order.h"

namespace {

const size_t kMaxCachedDirectories = 256;
const uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

std::string FoldName(const std::string& strName) {
  std::string strFolded(strName);
  for (char& ch : strFolded) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return strFolded;
}

bool IsDotEntry(const char* pszName) {
  return pszName[0] == '.' && (pszName[1] == '\0' || (pszName[1] == '.' && pszName[2] == '\0'));
}

// One directory's names, grouped by their case-folded form.
class CNameIndex {
 public:
  void Add(const std::string& strName) {
    std::vector<std::string>& vecNames = m_mapByFolded[FoldName(strName)];
    if (std::find(vecNames.begin(), vecNames.end(), strName) == vecNames.end()) vecNames.push_back(strName);
  }

  void Remove(const std::string& strName) {
    auto it = m_mapByFolded.find(FoldName(strName));
    if (it == m_mapByFolded.end()) return;
    std::vector<std::string>& vecNames = it->second;
    vecNames.erase(std::remove(vecNames.begin(), vecNames.end(), strName), vecNames.end());
    if (vecNames.empty()) m_mapByFolded.erase(it);
  }

  std::string Find(const std::string& strName) const {
    auto it = m_mapByFolded.find(FoldName(strName));
    if (it == m_mapByFolded.end()) return std::string();
    return *std::min_element(it->second.begin(), it->second.end(), NameLess);
  }

 private:
  std::unordered_map<std::string, std::vector<std::string>> m_mapByFolded;
};

bool ReadDirectory(const std::string& strDir, CNameIndex& index) {
  CDirStream dir(strDir);
  if (!dir.IsOpen()) return false;
  while (const dirent* pEntry = dir.Next()) {
    if (!IsDotEntry(pEntry->d_name)) index.Add(pEntry->d_name);
  }
  return true;
}

std::string ScanIgnoringCase(const std::string& strDir, const std::string& strName) {
  CNameIndex index;
  ReadDirectory(strDir, index);
  return index.Find(strName);
}

typedef std::pair<dev_t, ino_t> CInodeId;

class CDirCache {
 public:
  std::string Find(const std::string& strDir, const std::string& strName) {
    std::lock_guard<std::mutex> lock(m_mutex);
    struct stat st;
    if (stat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    if (!EnsureNotifier()) return ScanIgnoringCase(strDir, strName);
    // Events for everything done before this call are queued by now.
    DrainEvents();
    CInodeId id(st.st_dev, st.st_ino);
    auto it = m_mapEntries.find(id);
    if (it == m_mapEntries.end()) it = AddEntry(strDir, id);
    if (it == m_mapEntries.end()) return ScanIgnoringCase(strDir, strName);
    return it->second.m_index.Find(strName);
  }

 private:
  struct CEntry {
    int m_nWatch;
    CNameIndex m_index;
  };

  // An inotify instance owned by this process; a child after fork() must
  // not read the parent's events, so it starts over with its own.
  bool EnsureNotifier() {
    if (m_nNotifyFd >= 0 && m_nOwner == getpid()) return true;
    if (m_nNotifyFd >= 0) close(m_nNotifyFd);
    m_mapEntries.clear();
    m_mapWatches.clear();
    m_nOwner = getpid();
    m_nNotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return m_nNotifyFd >= 0;
  }

  // Watches the directory first and reads it second, so no change can fall
  // between the listing and the events.
  std::map<CInodeId, CEntry>::iterator AddEntry(const std::string& strDir, const CInodeId& id) {
    if (m_mapEntries.size() >= kMaxCachedDirectories) Reset();
    int nWatch = inotify_add_watch(m_nNotifyFd, strDir.c_str(), kWatchMask);
    if (nWatch < 0) return m_mapEntries.end();
    struct stat st;
    auto itWatch = m_mapWatches.find(nWatch);
    bool bSameInode = stat(strDir.c_str(), &st) == 0 && CInodeId(st.st_dev, st.st_ino) == id;
    if (!bSameInode || (itWatch != m_mapWatches.end() && itWatch->second != id)) {
      if (itWatch == m_mapWatches.end()) inotify_rm_watch(m_nNotifyFd, nWatch);
      return m_mapEntries.end();
    }
    m_mapWatches[nWatch] = id;
    CEntry entry{nWatch, CNameIndex()};
    if (!ReadDirectory(strDir, entry.m_index)) return m_mapEntries.end();
    return m_mapEntries.insert_or_assign(id, std::move(entry)).first;
  }

  void Reset() {
    for (const auto& watch : m_mapWatches) inotify_rm_watch(m_nNotifyFd, watch.first);
    m_mapEntries.clear();
    m_mapWatches.clear();
  }

  void DrainEvents() {
    alignas(inotify_event) char abyBuffer[16384];
    for (;;) {
      ssize_t nRead = read(m_nNotifyFd, abyBuffer, sizeof(abyBuffer));
      if (nRead < 0 && errno == EINTR) continue;
      if (nRead <= 0) return;
      for (ssize_t nPos = 0; nPos < nRead;) {
        const inotify_event* pEvent = reinterpret_cast<const inotify_event*>(abyBuffer + nPos);
        ApplyEvent(*pEvent);
        nPos += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
      }
    }
  }

  void ApplyEvent(const inotify_event& event) {
    if ((event.mask & IN_Q_OVERFLOW) != 0) return Reset();
    auto itWatch = m_mapWatches.find(event.wd);
    if (itWatch == m_mapWatches.end()) return;
    auto itEntry = m_mapEntries.find(itWatch->second);
    if ((event.mask & (IN_IGNORED | IN_DELETE_SELF)) != 0) {
      if (itEntry != m_mapEntries.end()) m_mapEntries.erase(itEntry);
      if ((event.mask & IN_IGNORED) != 0) m_mapWatches.erase(itWatch);
      return;
    }
    if (itEntry == m_mapEntries.end() || event.len == 0) return;
    std::string strName(event.name);
    if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) itEntry->second.m_index.Add(strName);
    if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) itEntry->second.m_index.Remove(strName);
  }

  std::mutex m_mutex;
  int m_nNotifyFd = -1;
  pid_t m_nOwner = 0;
  std::map<CInodeId, CEntry> m_mapEntries;
  std::map<int, CInodeId> m_mapWatches;
};

// Never destroyed: lookups may run from exit handlers.
CDirCache& Cache() {
  static CDirCache* s_pCache = new CDirCache;
  return *s_pCache;
}

}  // namespace

std::string FindIgnoringCase(const std::string& strDir, const std::string& strName) {
  return Cache().Find(strDir, strName);
}
