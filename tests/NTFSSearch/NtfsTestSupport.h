// Shared helpers of the NTFS tests: the images of make_ntfs.sh (made once per
// build folder), byte patches of copies, The Sleuth Kit as oracle, crafted
// file records, and recording builder and progress sinks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "IProgress.h"
#include "ITreeBuilder.h"

class CNTFSFileNode;

// An image of the fixture script (ntfs-basic.img, ntfs-4k.img). Tests only
// read these; damaged variants are copies in a test's own TempDir.
std::string NtfsImagePath(const std::string& name);
// The bytes the script put into a file (src/<name>).
std::string NtfsSource(const std::string& name);
// Whether the script could mount the image to add folders and deletions.
bool NtfsFixtureMounted();

// Byte offset of MFT record n of a 1,024-byte-record image (located through
// the $MFT record's own runs), and the record's protected bytes.
unsigned long long NtfsRecordOffset(const std::string& image, long long n);
std::vector<uint8_t> NtfsReadRecord(const std::string& image, long long n);

// Patches record n of an image: change gets the bytes without their
// protection, which is put back afterwards unless keepRaw.
void PatchRecord(const std::string& image, long long n, const std::function<void(std::vector<uint8_t>&)>& change,
                 bool keepRaw = false);
// Points the first $FILE_NAME of record n at another parent folder.
void SetRecordParent(const std::string& image, long long n, long long parent);

void CopyImage(const std::string& from, const std::string& to);
void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size);
std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size);

// `fls -r -p` without the system files and the orphan folder: path below the
// root to (deleted, directory, MFT number).
struct FlsEntry {
    bool deleted = false;
    bool directory = false;
    long long inode = 0;
};
std::map<std::string, FlsEntry> NtfsFlsTree(const std::string& image, unsigned int sectorSize = 512);

// 100-ns units since 1601 of a UTC time given in seconds since 1970.
unsigned long long UnixToFileTime(long long seconds);
// 2021-03-04 05:06:08 UTC, the time the script gives its files.
constexpr long long kFixtureUnixTime = 1614834368;

// A crafted 1,024-byte file record: header, the given attributes, the end
// marker, protected with update sequence number 0x0101.
struct RecordSpec {
    uint16_t flags = 1;  // in use
    uint32_t number = 100;
    uint64_t baseReference = 0;
    std::vector<std::vector<uint8_t>> attributes;
};
std::vector<uint8_t> MakeRecord(const RecordSpec& spec);
// Attribute makers (the type, lengths and offsets filled in).
std::vector<uint8_t> MakeResident(uint32_t type, const std::vector<uint8_t>& value, const std::u16string& name = u"",
                                  uint16_t flags = 0);
std::vector<uint8_t> MakeNonResident(uint32_t type, const std::vector<uint8_t>& pairs, uint64_t firstVcn,
                                     uint64_t lastVcn, uint64_t realSize, uint64_t allocSize, uint16_t flags = 0,
                                     const std::u16string& name = u"");
std::vector<uint8_t> StandardInformation(uint64_t created, uint64_t modified, uint64_t accessed, uint32_t dos);
std::vector<uint8_t> FileName(uint64_t parent, const std::u16string& name, uint8_t nameSpace, uint64_t realSize = 0,
                              uint64_t created = 0, uint32_t flags = 0);

// Records what a searcher hands to its tree builder; owns the accepted nodes.
class CNtfsRecordingBuilder : public IDirecotryTreeBuilder {
public:
    ~CNtfsRecordingBuilder() override;
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override;

    // Path below the root through the recorded parent ids ("?" for a parent
    // that never came).
    std::string PathOf(CNTFSFileNode* node) const;
    std::map<std::string, CNTFSFileNode*> ByPath() const;

    std::vector<std::string> m_events;  // "info 35 5", "partition", "flash 35"
    std::vector<CNTFSFileNode*> m_nodes;
    std::function<bool(IFileNode*)> m_refuse;
};

// Records every report; Continued() answers 0 from its (stopAfter + 1)-th
// call on when stopAfter is not negative.
class CNtfsRecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override;
    int Continued() override;
    int shouldBuild() override { return 1; }

    struct Report {
        uint32_t state;
        uint64_t total, done;
    };
    std::vector<Report> m_reports;
    int m_stopAfter = -1;
    int m_continuedCalls = 0;
};
