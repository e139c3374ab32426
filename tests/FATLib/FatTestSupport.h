// Shared helpers of the FAT tests: the fixture images of
// tests/fixtures/make_fat.sh, small devices, and The Sleuth Kit as oracle.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ImageFileDevice.h"
#include "IStorageDevice.h"

// Folder holding every image of make_fat.sh. The images are made once per
// build folder (ctest runs each test in its own process) under a file lock,
// and made again when the fixture scripts change. Tests only read them;
// damaged variants are copies in a test's own TempDir.
const std::string& FatFixtureDir();
std::string FatImagePath(const std::string& name);
std::unique_ptr<CImageFileDevice> OpenFatImage(const std::string& name, unsigned int sectorSize = 512);

// Sparse copy of an image; overwriting bytes of a copy in place.
void CopyImage(const std::string& from, const std::string& to);
void PatchFile(const std::string& path, unsigned long long offset, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Le16(unsigned int v);
std::vector<uint8_t> Le32(unsigned int v);

// count sectors of sectorSize bytes from sector first of a file.
std::vector<uint8_t> ReadImageSectors(const std::string& path, long long first, long long count,
                                      unsigned int sectorSize = 512);

// `fls -r -p`: path (deleted entries as fls names them) to inode.
std::map<std::string, long long> FlsInodes(const std::string& image);
// `istat`: the sectors of an inode, and its three times as seconds since 1970.
std::vector<long long> IstatSectors(const std::string& image, long long inode);
struct IstatTimes {
    long long written = -1;
    long long accessed = -1;
    long long created = -1;
};
IstatTimes IstatTimesOf(const std::string& image, long long inode);
// "Total Range: 0 - N" of fsstat, as N + 1 (in the volume's own sectors).
long long FsstatTotalSectors(const std::string& image);

// 100-ns units since 1601 for seconds since 1970.
unsigned long long UnixToFileTime(long long seconds);

// A 32-byte directory entry put together field by field.
struct EntryBuilder {
    uint8_t b[32] = {};
    EntryBuilder(const char* name11, uint8_t attr);
    EntryBuilder& Cluster(unsigned int c);
    EntryBuilder& Size(unsigned int s);
    EntryBuilder& Word(size_t offset, unsigned int v);
    EntryBuilder& Byte(size_t offset, uint8_t v);
};
unsigned int Date(unsigned int year, unsigned int month, unsigned int day);
unsigned int Time(unsigned int hour, unsigned int minute, unsigned int twoSeconds);
// A long-name entry holding up to 13 units (terminated and padded as on disk
// when shorter).
EntryBuilder LongNameEntry(uint8_t order, const std::u16string& units, uint8_t checksum = 0);
// The long-name entries of name (last piece first, as on disk) followed by
// the short entry.
std::vector<uint8_t> LongNameRun(const std::u16string& name, const EntryBuilder& shortEntry);

// A device over bytes in memory; reads outside it fail. Counts reads.
class CBufferDevice : public IStorageDevice {
public:
    CBufferDevice(std::vector<uint8_t> bytes, unsigned int sectorSize = 512)
        : m_bytes(std::move(bytes)), m_dwSectorSize(sectorSize)
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

    std::vector<uint8_t>& Bytes() { return m_bytes; }
    int m_iReads = 0;

private:
    std::vector<uint8_t> m_bytes;
    unsigned int m_dwSectorSize;
};
