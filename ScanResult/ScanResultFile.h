// The saved scan-result file ("rsf"): what goes into its three frames and how
// it is read back. The container (header, frames, checksum) is the engine's
// data stream (IRSData); this file fixes the payloads:
//
//   scan kind       u32 record length (8), u32 controller type, u32 deep flag
//   scanned device  u64 capacity, u32 disk index, u32 volume index,
//                   u32 file-system type, u32 name length, name bytes
//   node trees      u64 tree count, then per tree: u32 marker 1, root record,
//                   u32 partition count, partitions (u32 kind + 104 bytes),
//                   node records each after a u32 marker 0, u32 0xFFFFFFFF
//
// All integers are little-endian. Everything read from such a file is
// untrusted: every read is bounded by what the open frame still holds, and a
// record that does not fit ends the reading with an error, never a guess.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "EngineTypes.h"
#include "FileNode.h"
#include "IRSData.h"

class CHFSPlusVolume;
class CSearchedPartitionInfo;
class IDataRecovery;
class IProgress;
class IStorageDevice;

// Frame identifiers, as stored.
inline constexpr tagGUIDSIGN _frFileSystemSearchControllerList = {
    {0x94, 0x63, 0x9b, 0x40, 0x81, 0xf6, 0x88, 0x4e, 0xa2, 0x0f, 0x5d, 0x63, 0x57, 0x82, 0xed, 0x75}};
inline constexpr tagGUIDSIGN _frDiskDevice = {
    {0x76, 0xa6, 0x72, 0xb0, 0x48, 0x05, 0x8b, 0x46, 0xba, 0x9e, 0x91, 0x09, 0x3a, 0x63, 0xb5, 0x17}};
inline constexpr tagGUIDSIGN _frFileSystemNode = {
    {0x6c, 0xf2, 0x08, 0xd2, 0x8c, 0x07, 0x34, 0x4e, 0x9d, 0x71, 0xd9, 0x1f, 0x53, 0x5f, 0x7b, 0x57}};

namespace ScanResultFormat {
constexpr uint32_t kScanKindRecordLength = 8;
constexpr uint32_t kMaxDeviceNameLength = 4096;
// Longer names are cut by the writer; the reader takes a longer length as
// damage, so both sides always agree on where a record ends.
constexpr uint32_t kMaxVolumeNameLength = 511;
constexpr uint32_t kMaxNodeNameLength = 65535;
constexpr uint32_t kMaxPartitions = 512;
constexpr uint32_t kMaxPartitionKind = 4;
constexpr uint32_t kPartitionRecordSize = 104;
constexpr uint32_t kTreeMarker = 1;
constexpr uint32_t kNodeMarker = 0;
constexpr uint32_t kEndMarker = 0xFFFFFFFFu;
constexpr uint32_t kFileStatusSaved = 1;
}  // namespace ScanResultFormat

// Result codes of saving and loading, as the windows show them.
enum ScanResultError : int {
    SCAN_RESULT_OK = 0,
    SCAN_RESULT_NO_STREAM = 1,       // the data stream could not be created
    SCAN_RESULT_CANNOT_OPEN = 2,     // the file could not be opened (or, saving, written)
    SCAN_RESULT_BAD_HEADER = 3,      // header refused: signature, format, checksum, status
    SCAN_RESULT_BAD_SCAN_KIND = 4,   // scan-kind frame missing or not 8 bytes long
    SCAN_RESULT_BAD_DEVICE = 5,      // scanned-device frame missing or damaged
    SCAN_RESULT_NO_DEVICE = 6,       // no attached device matches the saved one
    SCAN_RESULT_DAMAGED_TREES = 7,   // node trees damaged: nothing loaded when they fail their
                                     // checksum; from an unchecked file what came before the damage
};

// The scan-kind frame.
struct SavedScanKind {
    uint32_t dwControllerType = 3;
    uint32_t dwDeepScan = 0;
};

// The scanned-device frame: the device as the device list described it.
struct SavedDeviceRecord {
    uint64_t u64Capacity = 0;
    int32_t iDiskIndex = -1;
    int32_t iVolumeIndex = -1;
    int32_t iFileSystem = -1;
    std::string strName;
};

// The format of the file and the nodes read back from it; the operations
// that save and load on worker threads add theirs (ZRUISaveRestore.h).
namespace SaveRestoreResult {
    // A node read back from a file: every property is a stored value.
    class RestoreFileNode : public CFileNode {
    public:
        RestoreFileNode() = default;
        ~RestoreFileNode() override = default;

        const char* GetFileName() override { return m_strName.c_str(); }
        long long GetFileSize() override { return static_cast<long long>(m_u64FileSize); }
        unsigned int GetAttribute() override { return m_wAttribute; }
        unsigned long long GetCreationTime() override { return m_u64CreationTime; }
        unsigned long long GetModificationTime() override { return m_u64ModificationTime; }
        unsigned long long GetLastAccessTime() override { return m_u64LastAccessTime; }
        int IsDirectory() override { return static_cast<int>(m_dwDirectory); }
        int IsDeleted() override { return static_cast<int>(m_dwDeleted); }
        IFileNode* Clone() override;
        void MarkDeleted() override { m_dwDeleted = 1; }
        // Compressed files are read through the loaded root's file system.
        IFileReader* CreateCompressFileReader(void* volumeContext) override;
        void FilterFileNameByDot() override {}

        // Appends the node record of node to the open frame; returns 1.
        static int WriteFileNode(CFileNode* node, IRSData* stream);
        // Appends the root record: node record, searcher type, volume name.
        static int WriteSystemNode(IFilesystemNode* root, IRSData* stream);
        // Reads one node record into node, or into a new node when node is
        // null; returns the node. Throws CRSException when the record does
        // not fit in the frame or is damaged (a node made here is freed).
        static RestoreFileNode* ReadFileNode(IRSData* stream, RestoreFileNode* node);

    protected:
        void CopyTo(RestoreFileNode& copy) const;

        std::string m_strName;
        uint64_t m_u64FileSize = 0;
        uint16_t m_wAttribute = 0;
        uint64_t m_u64CreationTime = 0;
        uint64_t m_u64ModificationTime = 0;
        uint64_t m_u64LastAccessTime = 0;
        uint32_t m_dwDirectory = 0;
        uint32_t m_dwDeleted = 0;
    };

    // The root record of a loaded tree.
    class RestoreSystemNode : public RestoreFileNode {
    public:
        RestoreSystemNode() = default;
        ~RestoreSystemNode() override;

        _tagSearcherType GetSearcheType() const override { return m_eSearcherType; }
        const char* GetVolumeName() const override { return m_strVolumeName.c_str(); }
        IFileNode* Clone() override;
        // Not owned: the reader belongs to the load's reader map, or to the
        // caller that took it with TakeCHFSPlusVolume.
        CHFSPlusVolume* GetCHFSPlusVolume() const { return m_pHFSPlusVolume; }
        CHFSPlusVolume* TakeCHFSPlusVolume();

        // Reads a root record into a new node. With a device, a root of an
        // HFS+ tree gets a volume reader opened on it (owned by the node
        // until taken). Throws CRSException on a record that does not fit.
        static RestoreSystemNode* ReadSystemNode(IRSData* stream, IStorageDevice* device);

    private:
        _tagSearcherType m_eSearcherType = SEARCHER_NONE;
        std::string m_strVolumeName;
        CHFSPlusVolume* m_pHFSPlusVolume = nullptr;
        bool m_bOwnsVolume = false;
    };

    // The data-recovery object that holds the partitions of a saved tree.
    using RecoveryOfRoot = std::function<IDataRecovery*(IFileNode* root)>;

    // ---- frames -------------------------------------------------------------
    // Each writes one whole frame; a failed write throws CRSException (6).
    void WriteScanKindFrame(IRSData* stream, const SavedScanKind& kind);
    void WriteDeviceFrame(IRSData* stream, const SavedDeviceRecord& device);
    // Opens the node-tree frame and writes every root's tree (breadth-first,
    // folders before the contents of later folders); stepping sink after each
    // record. The frame is left open; the caller closes it.
    void WriteNodeTreeFrame(IRSData* stream, const std::list<IFileNode*>& roots, const RecoveryOfRoot& recoveryOf,
                            IProgress* sink);

    // What the checksum frame says of a file being loaded.
    struct SavedIntegrity {
        RSIntegrity eState = RS_INTEGRITY_UNVERIFIED;
        // The node trees cannot be trusted: their frame, the checksum frame
        // or the frame layout is damaged, or the file is cut short.
        bool bTreesDamaged = false;
        // The damaged parts in words, for messages ("node trees", ...).
        std::string strDamaged;
    };

    // Checks the header (signature, format, checksum, a status of 1 to 4),
    // every frame against the checksum frame, and reads the scan-kind and
    // scanned-device frames. Returns 0 or the ScanResultError of the first
    // check that failed (a damaged scan-kind or device frame among them);
    // damage of the trees is left in integrity. Throws nothing.
    int ReadResultHead(IRSData* stream, SavedScanKind& kind, SavedDeviceRecord& device, IProgress* sink,
                       SavedIntegrity& integrity);
    int ReadResultHead(IRSData* stream, SavedScanKind& kind, SavedDeviceRecord& device, IProgress* sink);

    // One partition record: write the 104 bytes of partition / read them into
    // a new plain record (sector size normalised, device reference cleared).
    void WritePartitionRecord(IRSData* stream, const CSearchedPartitionInfo& partition);
    CSearchedPartitionInfo* ReadPartitionRecord(IRSData* stream);

    // ---- progress of saving and loading --------------------------------------
    // The synthetic progress (5 at the start, one step at most every 100 ms
    // up to 98, 100 at the end) of one save or load at a time.
    void IncProgress(IProgress* sink, bool finish, bool start);
    // The error code of this save or load, reported by its one finish.
    void TipError(IProgress* sink, int code);
    // The HFS+ reader kept for a searcher type by the last load, or null.
    CHFSPlusVolume* GetCachedHFSPlusVolume(int searcherType);
    void KeepHFSPlusVolume(int searcherType, CHFSPlusVolume* volume);
    void ClearHFSPlusVolumes();
}  // namespace SaveRestoreResult

// Little-endian stores and exact reads of the open frame (shared with the
// operations).
namespace ScanResultIO {
void PutU16(IRSData* stream, uint16_t value);
void PutU32(IRSData* stream, uint32_t value);
void PutU64(IRSData* stream, uint64_t value);
void PutBytes(IRSData* stream, const void* data, uint32_t size);
uint16_t GetU16(IRSData* stream);
uint32_t GetU32(IRSData* stream);
uint64_t GetU64(IRSData* stream);
// Reads a u32 length and that many bytes; a length above maxLength throws
// CRSException (5) without reading them.
std::string GetString(IRSData* stream, uint32_t maxLength);
}  // namespace ScanResultIO
