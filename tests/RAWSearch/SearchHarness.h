// Drives the RAW searcher as the deep scan does, over bytes a test lays out,
// with analysers of the test's own in set 0.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "CountingDevice.h"
#include "FakeProgress.h"
#include "RAWSearchController.h"
#include "RawAnalyserTable.h"
#include "RawFileAnalyserList.h"
#include "RecordingTreeBuilder.h"

// A device over bytes in memory. Reads of ranges not wholly inside it fail
// and zero-fill the buffer.
class ByteDevice : public IStorageDevice {
public:
    ByteDevice(long long totalSectors, unsigned int sectorSize)
        : m_bytes(static_cast<size_t>(totalSectors) * sectorSize, 0), m_dwSectorSize(sectorSize)
    {
    }
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_dwSectorSize; }
    long long GetTotalSectors() override { return static_cast<long long>(m_bytes.size() / m_dwSectorSize); }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_DISK; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

    unsigned char* Sector(long long s) { return m_bytes.data() + static_cast<size_t>(s) * m_dwSectorSize; }
    void Put(long long byteOffset, const void* data, size_t length)
    {
        if (length)
            std::memcpy(m_bytes.data() + byteOffset, data, length);
    }
    void Put(long long byteOffset, const std::vector<unsigned char>& data) { Put(byteOffset, data.data(), data.size()); }
    std::vector<unsigned char>& Bytes() { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
    unsigned int m_dwSectorSize;
};

// What the fakes saw, in order: "ask A 3" (analyser A asked about sector 3),
// "feed 0 5" (the candidate of sector 0 fed sector 5), "remove 0 32",
// "size 7" (the owner sized the candidate of sector 7), "ex 512 3 0 16"
// (a special probe with sector size, sector, context start and end).
std::vector<std::string>& FakeEvents();
// Candidates of the fakes alive now.
int& FakeCandidatesAlive();

// Sector layout the fakes read: bytes 0-3 the key, byte 4 the kind, byte 5
// the id of the analyser that accepts ('*' any), bytes 8-15 a size (LE),
// bytes 16-23 the sector's own number (LE). Kinds: 'S' sized at the probe,
// 'T' streaming (ends at a sector that starts with "END!", with the size up
// to that sector's end; its structure holds every later sector), 'U' like
// 'T' but holding no sector, so another file's header ends it, 'R' streaming that never ends and, in the last
// sector of each block, logs "past N zero" when the 4096 bytes after it in
// memory are zero ("stale" when not; "readable" when the context offers
// them), 'Z' streaming that sets its size at its first
// sector and never ends, 'P' plain (the owner reads the size field through
// the device it is given), 'N' a candidate the analyser declines to create.
void MarkSector(ByteDevice& device, long long sector, uint32_t key, char kind, char id, uint64_t size = 0);
// Writes every sector's own number at bytes 16-23.
void StampSectorNumbers(ByteDevice& device);

// Factories for rows: the row's id names the analyser ('A', 'B', ...).
IRawFileAnalyser* CreateFakeAnalyser(unsigned int id);
IRawFileAnalyser* CreateFakeSpecialAnalyser(unsigned int id);

struct CarvedFile {
    std::string name;
    std::string folder;
    long long start;
    long long size;
};

class SearchHarness {
public:
    static constexpr int kBlock = 16;

    SearchHarness(long long totalSectors, unsigned int sectorSize, std::span<const RawAnalyserRow> rows);
    ~SearchHarness();

    ByteDevice& Device() { return m_device; }
    CountingDevice& Counting() { return m_counting; }
    CRAWSearchController& Searcher() { return *m_pSearcher; }
    RecordingTreeBuilder& Builder() { return m_builder; }
    TBitmap& Bitmap() { return m_bitmap; }
    FakeProgress& Progress() { return *m_pProgress; }
    std::map<long long, unsigned int>& FileSectors() { return m_fileSectors; }

    // Replaces the progress sink before Prepare (a stop after n asks).
    void StopAfter(long long continueCalls) { m_pProgress = std::make_unique<FakeProgress>(continueCalls); }
    void Prepare();
    void Block(long long index);
    // Every block from index on, in order.
    void BlocksFrom(long long index);
    void End(int flag = 1) { m_pSearcher->EndSearch(flag); }
    void Run()
    {
        Prepare();
        BlocksFrom(0);
        End();
    }
    // Destroys the searcher now (as the deep scan does after a stop).
    void DestroySearcher() { m_pSearcher.reset(); }

    // Carved files handed to the tree builder so far, in hand-over order.
    std::vector<CarvedFile> Files() const;
    const CarvedFile* FileAt(long long start) const;

private:
    ByteDevice m_device;
    CountingDevice m_counting;
    RecordingTreeBuilder m_builder;
    TBitmap m_bitmap;
    std::unique_ptr<FakeProgress> m_pProgress;
    std::map<long long, unsigned int> m_fileSectors;
    std::span<const RawAnalyserRow> m_rows;
    std::unique_ptr<CRAWSearchController> m_pSearcher;
    mutable std::vector<CarvedFile> m_files;
};

// A file planted at sector kFollowedStart with other bytes from the next
// sector on, carved by rows: the file carved at its start (size -1 when
// none), and the sector where the bytes after it begin.
struct FollowedCarve {
    static constexpr long long kFollowedStart = 3;
    CarvedFile file{"", "", -1, -1};
    long long nextSector = 0;
    std::vector<CarvedFile> all;
};
FollowedCarve CarveFollowed(const std::vector<unsigned char>& file, const std::vector<unsigned char>& after,
                            unsigned int sectorSize, std::span<const RawAnalyserRow> rows);
