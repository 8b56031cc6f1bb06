// File mapping: whole-file and extending mappings, coherence with
// ReadFile/WriteFile, and views that must fail cleanly instead of faulting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "tests/support/handle_ptr.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct CViewUnmapper {
  void operator()(void* p) const { UnmapViewOfFile(p); }
};
using CViewPtr = std::unique_ptr<void, CViewUnmapper>;

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kGranularity = 65536;

class PlatformMappingTest : public ::testing::Test {
 protected:
  // A file of nSize bytes, byte i holding i % 251, opened with dwAccess.
  CHandlePtr MakeFile(size_t nSize, DWORD dwAccess = kReadWrite) {
    std::string strBytes(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i) strBytes[i] = static_cast<char>(i % 251);
    WriteFileBytes(File(), strBytes);
    return CHandlePtr(
        CreateFileA(m_dir.ProgramPath("f.bin").c_str(), dwAccess, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  fs::path File() const { return m_dir.Path() / "f.bin"; }

  CTempDir m_dir;
};

TEST_F(PlatformMappingTest, ViewsAreCoherentWithReadAndWrite) {
  CHandlePtr spFile = MakeFile(3 * kGranularity);
  ASSERT_NE(spFile.get(), INVALID_HANDLE_VALUE);
  CHandlePtr spMapping(CreateFileMappingA(spFile.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  ASSERT_NE(spMapping.get(), nullptr);
  CViewPtr spView(MapViewOfFile(spMapping.get(), FILE_MAP_ALL_ACCESS, 0, kGranularity, 0));
  ASSERT_NE(spView.get(), nullptr);
  unsigned char* pbyView = static_cast<unsigned char*>(spView.get());
  EXPECT_EQ(pbyView[0], kGranularity % 251);
  EXPECT_EQ(pbyView[2 * kGranularity - 1], (3 * kGranularity - 1) % 251);

  std::memcpy(pbyView + 10, "VIEW", 4);
  char szRead[4];
  DWORD nDone = 0;
  ASSERT_NE(SetFilePointer(spFile.get(), kGranularity + 10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(ReadFile(spFile.get(), szRead, 4, &nDone, nullptr));
  EXPECT_EQ(std::string(szRead, nDone), "VIEW");
  ASSERT_TRUE(WriteFile(spFile.get(), "FILE", 4, &nDone, nullptr));
  EXPECT_EQ(std::memcmp(pbyView + 14, "FILE", 4), 0);
}

TEST_F(PlatformMappingTest, ViewsOutliveTheirHandles) {
  CHandlePtr spFile = MakeFile(kGranularity);
  CHandlePtr spMapping(CreateFileMappingA(spFile.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  ASSERT_NE(spMapping.get(), nullptr);
  CViewPtr spView(MapViewOfFile(spMapping.get(), FILE_MAP_WRITE, 0, 0, 100));
  ASSERT_NE(spView.get(), nullptr);
  spMapping.reset();
  spFile.reset();
  static_cast<char*>(spView.get())[50] = 'Z';
  // Unmapping by an address inside the view works as on Windows.
  EXPECT_TRUE(UnmapViewOfFile(static_cast<char*>(spView.release()) + 50));
  EXPECT_EQ(ReadFileBytes(File())[50], 'Z');
}

TEST_F(PlatformMappingTest, MappingSizeRules) {
  {
    CHandlePtr spEmpty = MakeFile(0);
    EXPECT_EQ(CreateFileMappingA(spEmpty.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
    // A larger read-write mapping extends the file.
    CHandlePtr spMapping(CreateFileMappingA(spEmpty.get(), nullptr, PAGE_READWRITE, 0, 2 * kGranularity, nullptr));
    ASSERT_NE(spMapping.get(), nullptr);
    EXPECT_EQ(fs::file_size(File()), 2u * kGranularity);
  }
  CHandlePtr spReadOnly = MakeFile(1000, GENERIC_READ);
  EXPECT_EQ(CreateFileMappingA(spReadOnly.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFileMappingA(spReadOnly.get(), nullptr, PAGE_READONLY, 0, 5000, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(fs::file_size(File()), 1000u);
  CHandlePtr spMapping(CreateFileMappingA(spReadOnly.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  ASSERT_NE(spMapping.get(), nullptr);
  EXPECT_EQ(MapViewOfFile(spMapping.get(), FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CViewPtr spView(MapViewOfFile(spMapping.get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(spView.get(), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(spView.get())[999], 999 % 251);
}

TEST_F(PlatformMappingTest, BadViewsFailWithoutFaulting) {
  CHandlePtr spFile = MakeFile(kGranularity + 1000);
  CHandlePtr spMapping(CreateFileMappingA(spFile.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  ASSERT_NE(spMapping.get(), nullptr);
  HANDLE hMapping = spMapping.get();

  EXPECT_EQ(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 4096, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
  EXPECT_EQ(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, kGranularity + 1001), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 2 * kGranularity, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MapViewOfFile(hMapping, FILE_MAP_READ, 1, 0, 0), nullptr);
  EXPECT_EQ(MapViewOfFile(spFile.get(), FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  CViewPtr spTail(MapViewOfFile(hMapping, FILE_MAP_READ, 0, kGranularity, 0));
  ASSERT_NE(spTail.get(), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(spTail.get())[999], (kGranularity + 999) % 251);

  int nNotAView = 0;
  EXPECT_FALSE(UnmapViewOfFile(&nNotAView));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_TRUE(UnmapViewOfFile(spTail.get()));
  EXPECT_FALSE(UnmapViewOfFile(spTail.release()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
}

TEST_F(PlatformMappingTest, FileCutShortUnderAMappingIsNotMapped) {
  CHandlePtr spFile = MakeFile(3 * kGranularity);
  CHandlePtr spMapping(CreateFileMappingA(spFile.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  ASSERT_NE(spMapping.get(), nullptr);
  // Windows refuses to cut a mapped file short; another program may still.
  ASSERT_NE(SetFilePointer(spFile.get(), 100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_FALSE(SetEndOfFile(spFile.get()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_USER_MAPPED_FILE));
  ASSERT_EQ(truncate(File().c_str(), kGranularity + 100), 0);

  EXPECT_EQ(MapViewOfFile(spMapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  EXPECT_EQ(MapViewOfFile(spMapping.get(), FILE_MAP_ALL_ACCESS, 0, 2 * kGranularity, 0), nullptr);
  // What is still in the file maps and reads without a fault.
  CViewPtr spView(MapViewOfFile(spMapping.get(), FILE_MAP_ALL_ACCESS, 0, kGranularity, 100));
  ASSERT_NE(spView.get(), nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(spView.get())[99], (kGranularity + 99) % 251);

  spView.reset();
  spMapping.reset();
  EXPECT_TRUE(SetEndOfFile(spFile.get()));
  EXPECT_EQ(fs::file_size(File()), 100u);
}

TEST(PlatformSystemInfoTest, ReportsWindowsGranularityAndPageSize) {
  SYSTEM_INFO info;
  std::memset(&info, 0xAB, sizeof(info));
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwAllocationGranularity, 65536u);
  EXPECT_EQ(info.dwPageSize, 4096u);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
  EXPECT_NE(info.dwActiveProcessorMask, 0u);
}

}  // namespace
