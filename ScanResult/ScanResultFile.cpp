#include "ScanResultFile.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "CompressFileReader.h"
#include "DataRecovery.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusVolume.h"
#include "IProgress.h"
#include "Log.h"
#include "SearchedPartitionInfo.h"

namespace {

using namespace ScanResultFormat;

// A climb to the top of a loaded tree ends here whatever the links say.
constexpr int kMaxAncestorSteps = 1 << 20;

// One record gathered in memory and written to the frame in one call.
class RecordBuilder {
public:
    void U16(uint16_t v) { Put(v, 2); }
    void U32(uint32_t v) { Put(v, 4); }
    void U64(uint64_t v) { Put(v, 8); }
    void Bytes(const void* data, size_t size)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
    }
    void Zeros(size_t size) { m_bytes.insert(m_bytes.end(), size, 0); }
    void WriteTo(IRSData* stream) const
    {
        ScanResultIO::PutBytes(stream, m_bytes.data(), static_cast<uint32_t>(m_bytes.size()));
    }
    size_t Size() const { return m_bytes.size(); }

private:
    void Put(uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i)
            m_bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    std::vector<unsigned char> m_bytes;
};

uint64_t LoadLE(const unsigned char* p, int width)
{
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// At most max bytes of text, cut where a UTF-8 sequence starts so the stored
// name stays valid text.
std::string CutText(const char* text, size_t max)
{
    if (!text)
        return std::string();
    size_t length = std::strlen(text);
    if (length <= max)
        return std::string(text, length);
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text, cut);
}

void Step(IProgress* sink)
{
    if (sink)
        SaveRestoreResult::IncProgress(sink, false, false);
}

bool KeepGoing(IProgress* sink)
{
    return !sink || sink->Continued();
}

void AppendNodeRecord(RecordBuilder& out, IFileNode* node)
{
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    out.U64(static_cast<uint64_t>(node->GetCurrentNodeID()));
    out.U64(static_cast<uint64_t>(node->GetParentNodeID()));
    out.U64(static_cast<uint64_t>(node->GetFileSize()));
    out.U16(static_cast<uint16_t>(node->GetAttribute()));
    out.U64(node->GetCreationTime());
    out.U64(node->GetModificationTime());
    out.U64(node->GetLastAccessTime());
    out.U32(node->IsDirectory() ? 1u : 0u);
    out.U32(node->IsDeleted() ? 1u : 0u);

    IDataRunList* runs = fileNode ? fileNode->GetDataRunList() : nullptr;
    std::vector<DataRun> list;
    if (runs)
        for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext())
            list.push_back(*run);
    out.U32(static_cast<uint32_t>(list.size()));
    out.U32(runs && runs->IsResident() ? 1u : 0u);
    for (const DataRun& run : list) {
        out.U64(static_cast<uint64_t>(run.llStart));
        out.U64(static_cast<uint64_t>(run.llLength));
    }

    const std::string name = CutText(node->GetFileName(), kMaxNodeNameLength);
    out.U32(static_cast<uint32_t>(name.size()));
    out.Bytes(name.data(), name.size());
    out.U32(node->IsNodeShow() ? 1u : 0u);
    out.U16(fileNode ? fileNode->GetBelongedPartition() : 0xFFFF);
    out.U64(static_cast<uint64_t>(fileNode ? fileNode->GetMetadataStartPosition() : 0));
    out.U32(node->IsCompressed() ? 1u : 0u);
}

// The partitions a data-recovery object holds, in its order, at most as many
// as a loader takes.
std::vector<CSearchedPartitionInfo*> PartitionsOf(IDataRecovery* recovery)
{
    std::vector<CSearchedPartitionInfo*> out;
    auto* holder = dynamic_cast<CDataRecovery*>(recovery);
    if (!holder)
        return out;
    const std::vector<CSearchedPartitionInfo*>& list = holder->GetSearchedPartition();
    const size_t count = std::min<size_t>(holder->GetSearchedPartitionCount(), list.size());
    for (size_t i = 0; i < count && out.size() < kMaxPartitions; ++i)
        if (list[i])
            out.push_back(list[i]);
    return out;
}

constexpr unsigned int kProgressStepTicks = 100;
constexpr uint64_t kProgressTotal = 100;
constexpr uint64_t kProgressStart = 5;

// The one progress record of saving and loading (one runs at a time).
struct SharedProgress {
    std::mutex lock;
    _PROGRESS_INFO info{};
    unsigned int lastTick = 0;
};

SharedProgress& Progress()
{
    static SharedProgress* const s_progress = new SharedProgress;
    return *s_progress;
}

struct HFSPlusVolumes {
    std::mutex lock;
    std::map<int, CHFSPlusVolume*> map;
};

// The HFS+ volume readers of the last load, by searcher type (owned).
HFSPlusVolumes& CachedHFSPlusVolumes()
{
    static HFSPlusVolumes* const s_map = new HFSPlusVolumes;
    return *s_map;
}

}  // namespace

// ---- byte helpers ------------------------------------------------------------

namespace ScanResultIO {

void PutBytes(IRSData* stream, const void* data, uint32_t size)
{
    if (size != 0 && !stream->WriteCurFrame(data, size))
        throw CRSException(RS_ERROR_WRITE_FAILED);
}

void PutU16(IRSData* stream, uint16_t value)
{
    RecordBuilder b;
    b.U16(value);
    b.WriteTo(stream);
}

void PutU32(IRSData* stream, uint32_t value)
{
    RecordBuilder b;
    b.U32(value);
    b.WriteTo(stream);
}

void PutU64(IRSData* stream, uint64_t value)
{
    RecordBuilder b;
    b.U64(value);
    b.WriteTo(stream);
}

uint16_t GetU16(IRSData* stream)
{
    unsigned char raw[2];
    stream->ReadCurFrameExact(raw, sizeof(raw));
    return static_cast<uint16_t>(LoadLE(raw, 2));
}

uint32_t GetU32(IRSData* stream)
{
    unsigned char raw[4];
    stream->ReadCurFrameExact(raw, sizeof(raw));
    return static_cast<uint32_t>(LoadLE(raw, 4));
}

uint64_t GetU64(IRSData* stream)
{
    unsigned char raw[8];
    stream->ReadCurFrameExact(raw, sizeof(raw));
    return LoadLE(raw, 8);
}

std::string GetString(IRSData* stream, uint32_t maxLength)
{
    const uint32_t length = GetU32(stream);
    // Checked against what the frame holds before anything is allocated.
    if (length > maxLength || length > stream->GetFrameRemaining())
        throw CRSException(RS_ERROR_SHORT_READ);
    std::string text(length, '\0');
    if (length)
        stream->ReadCurFrameExact(text.data(), length);
    return text;
}

}  // namespace ScanResultIO

using namespace ScanResultIO;

// ---- restored nodes ----------------------------------------------------------

void SaveRestoreResult::RestoreFileNode::CopyTo(RestoreFileNode& copy) const
{
    copy.m_llNodeID = m_llNodeID;
    copy.m_llParentNodeID = m_llParentNodeID;
    copy.m_strName = m_strName;
    copy.m_u64FileSize = m_u64FileSize;
    copy.m_wAttribute = m_wAttribute;
    copy.m_u64CreationTime = m_u64CreationTime;
    copy.m_u64ModificationTime = m_u64ModificationTime;
    copy.m_u64LastAccessTime = m_u64LastAccessTime;
    copy.m_dwDirectory = m_dwDirectory;
    copy.m_dwDeleted = m_dwDeleted;
    copy.m_dwCompressed = m_dwCompressed;
    copy.SetBelongedPartition(GetBelongedPartition());
    copy.SetMetaDataSector(GetMetadataStartPosition());
    copy.ShowNode(IsNodeShow());
    if (m_pDataRunList)
        copy.SetDataRunList(m_pDataRunList->Clone());
}

IFileNode* SaveRestoreResult::RestoreFileNode::Clone()
{
    auto* copy = new RestoreFileNode();
    CopyTo(*copy);
    return copy;
}

IFileReader* SaveRestoreResult::RestoreFileNode::CreateCompressFileReader(void*)
{
    IFileNode* top = GetParent();
    if (!top)
        return nullptr;
    for (int steps = 0; top->GetParent() && steps < kMaxAncestorSteps; ++steps)
        top = top->GetParent();
    switch (top->GetSearcheType()) {
    case SEARCHER_HFSPLUS: {
        CHFSPlusVolume* volume = GetCachedHFSPlusVolume(SEARCHER_HFSPLUS);
        return volume ? new CHFSPlusCompressFileReader(volume, this) : nullptr;
    }
    case SEARCHER_NTFS:
        return new CCompressFileReader();
    default:
        return nullptr;
    }
}

int SaveRestoreResult::RestoreFileNode::WriteFileNode(CFileNode* node, IRSData* stream)
{
    RecordBuilder record;
    AppendNodeRecord(record, node);
    record.WriteTo(stream);
    return 1;
}

int SaveRestoreResult::RestoreFileNode::WriteSystemNode(IFilesystemNode* root, IRSData* stream)
{
    RecordBuilder record;
    AppendNodeRecord(record, root);
    record.U32(static_cast<uint32_t>(root->GetSearcheType()));
    const std::string volume = CutText(root->GetVolumeName(), kMaxVolumeNameLength);
    record.U32(static_cast<uint32_t>(volume.size()));
    record.Bytes(volume.data(), volume.size());
    record.WriteTo(stream);
    return 1;
}

SaveRestoreResult::RestoreFileNode* SaveRestoreResult::RestoreFileNode::ReadFileNode(IRSData* stream,
                                                                                     RestoreFileNode* node)
{
    std::unique_ptr<RestoreFileNode> made;
    if (!node) {
        made = std::make_unique<RestoreFileNode>();
        node = made.get();
    }
    node->m_llNodeID = static_cast<long long>(GetU64(stream));
    node->m_llParentNodeID = static_cast<long long>(GetU64(stream));
    node->m_u64FileSize = GetU64(stream);
    node->m_wAttribute = GetU16(stream);
    node->m_u64CreationTime = GetU64(stream);
    node->m_u64ModificationTime = GetU64(stream);
    node->m_u64LastAccessTime = GetU64(stream);
    node->m_dwDirectory = GetU32(stream) ? 1 : 0;
    node->m_dwDeleted = GetU32(stream) ? 1 : 0;

    const uint32_t runCount = GetU32(stream);
    const uint32_t resident = GetU32(stream);
    if (runCount > 0) {
        // Every run is 16 bytes of this frame: a count that cannot be there
        // is damage, found before anything is allocated for it.
        if (runCount > stream->GetFrameRemaining() / 16)
            throw CRSException(RS_ERROR_SHORT_READ);
        auto* list = new CDataRunList();
        list->SetResident(resident ? 1 : 0);
        node->SetDataRunList(list);
        for (uint32_t i = 0; i < runCount; ++i) {
            DataRun run;
            run.llStart = static_cast<long long>(GetU64(stream));
            run.llLength = static_cast<long long>(GetU64(stream));
            // No writer stores a negative length or a run whose end does
            // not fit in 64 bits: such a run is damage.
            long long end = 0;
            if (run.llLength < 0 || (run.llStart >= 0 && __builtin_add_overflow(run.llStart, run.llLength, &end)))
                throw CRSException(RS_ERROR_SHORT_READ);
            list->AddDataRun(&run);
        }
    } else {
        node->SetDataRunList(nullptr);
    }

    node->m_strName = GetString(stream, kMaxNodeNameLength);
    GetU32(stream);  // the saved shown flag: every loaded node is shown
    node->ShowNode(1);
    node->SetBelongedPartition(GetU16(stream));
    node->SetMetaDataSector(static_cast<long long>(GetU64(stream)));
    node->m_dwCompressed = GetU32(stream) ? 1 : 0;
    made.release();
    return node;
}

SaveRestoreResult::RestoreSystemNode::~RestoreSystemNode()
{
    if (m_bOwnsVolume)
        delete m_pHFSPlusVolume;
}

IFileNode* SaveRestoreResult::RestoreSystemNode::Clone()
{
    auto* copy = new RestoreSystemNode();
    CopyTo(*copy);
    copy->m_eSearcherType = m_eSearcherType;
    copy->m_strVolumeName = m_strVolumeName;
    copy->m_pHFSPlusVolume = m_pHFSPlusVolume;  // borrowed by the copy
    return copy;
}

CHFSPlusVolume* SaveRestoreResult::RestoreSystemNode::TakeCHFSPlusVolume()
{
    m_bOwnsVolume = false;
    return m_pHFSPlusVolume;
}

SaveRestoreResult::RestoreSystemNode* SaveRestoreResult::RestoreSystemNode::ReadSystemNode(IRSData* stream,
                                                                                         IStorageDevice* device)
{
    auto node = std::make_unique<RestoreSystemNode>();
    ReadFileNode(stream, node.get());
    node->m_eSearcherType = static_cast<_tagSearcherType>(static_cast<int>(GetU32(stream)));
    node->m_strVolumeName = GetString(stream, kMaxVolumeNameLength);
    if (node->m_eSearcherType == SEARCHER_HFSPLUS && device) {
        auto volume = std::make_unique<CHFSPlusVolume>(device, true);
        // A reader that could not open the volume would only fail later.
        if (!IsResultFailure(volume->GetLastError())) {
            node->m_pHFSPlusVolume = volume.release();
            node->m_bOwnsVolume = true;
        }
    }
    return node.release();
}

// ---- partition records ---------------------------------------------------------

void SaveRestoreResult::WritePartitionRecord(IRSData* stream, const CSearchedPartitionInfo& p)
{
    RecordBuilder r;
    r.Zeros(8);   // no information
    r.Zeros(8);   // the device reference means nothing in a file
    r.U16(p.GetPartitionIndex());
    r.Zeros(2);
    r.U32(static_cast<uint32_t>(p.GetFileSystemType()));
    r.U32(p.GetSectorsPerUnit());
    r.Zeros(4);
    r.U64(static_cast<uint64_t>(p.GetUnitBase()));
    r.U64(static_cast<uint64_t>(p.GetPartitionStart()));
    r.U64(static_cast<uint64_t>(p.GetCounter1()));
    r.U64(static_cast<uint64_t>(p.GetCounter2()));
    r.U32(p.GetSectorSize());
    r.U32(p.GetFlags());
    r.U64(p.GetTotalSectors());
    r.U64(static_cast<uint64_t>(p.GetReliability()));
    const double score = p.GetScore();
    uint64_t scoreBits = 0;
    std::memcpy(&scoreBits, &score, sizeof(scoreBits));
    r.U64(scoreBits);
    r.U32(p.GetExtra());
    r.Zeros(4);
    VANTREL_ASSERT(r.Size() == kPartitionRecordSize);
    r.WriteTo(stream);
}

CSearchedPartitionInfo* SaveRestoreResult::ReadPartitionRecord(IRSData* stream)
{
    unsigned char raw[kPartitionRecordSize];
    stream->ReadCurFrameExact(raw, sizeof(raw));
    // The constructor keeps the sector size sane (512 unless a non-zero
    // multiple of 512): a crafted zero must not reach a division.
    auto* p = new CSearchedPartitionInfo(static_cast<unsigned int>(LoadLE(raw + 64, 4)));
    p->SetVolumeContext(nullptr);
    p->SetPartitionIndex(static_cast<unsigned short>(LoadLE(raw + 16, 2)));
    p->SetFileSystemType(static_cast<enumFILE_SYSTEM_TYPE>(static_cast<int>(LoadLE(raw + 20, 4))));
    p->SetSectorsPerUnit(static_cast<unsigned int>(LoadLE(raw + 24, 4)));
    p->SetUnitBase(static_cast<long long>(LoadLE(raw + 32, 8)));
    p->SetPartitionStart(static_cast<long long>(LoadLE(raw + 40, 8)));
    p->SetCounter1(static_cast<long long>(LoadLE(raw + 48, 8)));
    p->SetCounter2(static_cast<long long>(LoadLE(raw + 56, 8)));
    p->SetFlags(static_cast<unsigned int>(LoadLE(raw + 68, 4)));
    p->SetTotalSectors(LoadLE(raw + 72, 8));
    p->SetReliability(static_cast<long long>(LoadLE(raw + 80, 8)));
    const uint64_t scoreBits = LoadLE(raw + 88, 8);
    double score = 0;
    std::memcpy(&score, &scoreBits, sizeof(score));
    p->SetScore(score);
    p->SetExtra(static_cast<unsigned int>(LoadLE(raw + 96, 4)));
    return p;
}

// ---- frames ----------------------------------------------------------------------

void SaveRestoreResult::WriteScanKindFrame(IRSData* stream, const SavedScanKind& kind)
{
    stream->OpenFrame(_frFileSystemSearchControllerList);
    RecordBuilder r;
    r.U32(kScanKindRecordLength);
    r.U32(kind.dwControllerType);
    r.U32(kind.dwDeepScan);
    r.WriteTo(stream);
    stream->CloseFrame();
}

void SaveRestoreResult::WriteDeviceFrame(IRSData* stream, const SavedDeviceRecord& device)
{
    stream->OpenFrame(_frDiskDevice);
    RecordBuilder r;
    r.U64(device.u64Capacity);
    r.U32(static_cast<uint32_t>(device.iDiskIndex));
    r.U32(static_cast<uint32_t>(device.iVolumeIndex));
    r.U32(static_cast<uint32_t>(device.iFileSystem));
    const std::string name = CutText(device.strName.c_str(), kMaxDeviceNameLength);
    r.U32(static_cast<uint32_t>(name.size()));
    r.Bytes(name.data(), name.size());
    r.WriteTo(stream);
    stream->CloseFrame();
}

void SaveRestoreResult::WriteNodeTreeFrame(IRSData* stream, const std::list<IFileNode*>& roots,
                                           const RecoveryOfRoot& recoveryOf, IProgress* sink)
{
    if (!stream->OpenFrame(_frFileSystemNode))
        return;
    std::vector<IFilesystemNode*> trees;
    for (IFileNode* node : roots)
        if (auto* root = dynamic_cast<IFilesystemNode*>(node))
            trees.push_back(root);
    PutU64(stream, trees.size());
    for (IFilesystemNode* root : trees) {
        if (!KeepGoing(sink))
            break;
        IFileNode* rootNode = root;
        PutU32(stream, kTreeMarker);
        RestoreFileNode::WriteSystemNode(root, stream);
        Step(sink);

        IDataRecovery* recovery = recoveryOf ? recoveryOf(rootNode) : nullptr;
        const std::vector<CSearchedPartitionInfo*> partitions = PartitionsOf(recovery);
        if (partitions.empty()) {
            // Without partitions nothing of the tree could be read again.
            PutU32(stream, 0);
            PutU32(stream, kEndMarker);
            continue;
        }
        PutU32(stream, static_cast<uint32_t>(partitions.size()));
        for (CSearchedPartitionInfo* p : partitions) {
            PutU32(stream, static_cast<uint32_t>(p->GetType()));
            WritePartitionRecord(stream, *p);
            CatchExeception::WriteLog("%s:%d partition index:%d fileSystemType%d start:%lld end:%lld\n",
                                      "WriteNodeTreeFrame", __LINE__, p->GetPartitionIndex(),
                                      static_cast<int>(p->GetFileSystemType()), p->GetUnitBase(),
                                      static_cast<long long>(p->GetTotalSectors()));
        }

        // Breadth-first by folder. A node met twice means a looped link:
        // that sibling walk ends there instead of going round for ever.
        std::deque<IFileNode*> queue{rootNode};
        std::unordered_set<IFileNode*> written{rootNode};
        while (!queue.empty() && KeepGoing(sink)) {
            IFileNode* folder = queue.front();
            queue.pop_front();
            for (IFileNode* child = folder->GetFirstChild(); child; child = child->GetNextNode()) {
                if (!written.insert(child).second)
                    break;
                if (child->IsDirectory())
                    queue.push_back(child);
                RecordBuilder record;
                record.U32(kNodeMarker);
                AppendNodeRecord(record, child);
                record.WriteTo(stream);
                Step(sink);
            }
        }
        PutU32(stream, kEndMarker);
        Step(sink);
    }
}

namespace {

const char* FrameName(const tagGUIDSIGN& id)
{
    if (id == _frFileSystemSearchControllerList)
        return "scan kind";
    if (id == _frDiskDevice)
        return "scanned device";
    if (id == _frFileSystemNode)
        return "node trees";
    if (id == _frFrameChecksums)
        return "checksum list";
    return "unknown frame";
}

}  // namespace

int SaveRestoreResult::ReadResultHead(IRSData* stream, SavedScanKind& kind, SavedDeviceRecord& device,
                                      IProgress* sink)
{
    SavedIntegrity integrity;
    return ReadResultHead(stream, kind, device, sink, integrity);
}

int SaveRestoreResult::ReadResultHead(IRSData* stream, SavedScanKind& kind, SavedDeviceRecord& device,
                                      IProgress* sink, SavedIntegrity& integrity)
{
    integrity = SavedIntegrity();
    try {
        FILEHEADER header;
        if (!stream->ReadFileHeader(header))
            return SCAN_RESULT_BAD_HEADER;
        // A status of 5 or more makes the stream throw: refused as well.
        if (stream->GetStatus() == RS_STATUS_NONE)
            return SCAN_RESULT_BAD_HEADER;

        RSIntegrityReport report;
        integrity.eState = stream->CheckIntegrity(report);
        for (const tagGUIDSIGN& id : report.vecDamaged) {
            if (id == _frFileSystemSearchControllerList) {
                CatchExeception::WriteLog("%s %d\r\n", "ReadResultHead", __LINE__);
                return SCAN_RESULT_BAD_SCAN_KIND;
            }
            if (id == _frDiskDevice) {
                CatchExeception::WriteLog("%s %d\r\n", "ReadResultHead", __LINE__);
                return SCAN_RESULT_BAD_DEVICE;
            }
        }
        if (integrity.eState == RS_INTEGRITY_DAMAGED) {
            integrity.bTreesDamaged = true;
            for (const tagGUIDSIGN& id : report.vecDamaged)
                integrity.strDamaged += std::string(integrity.strDamaged.empty() ? "" : ", ") + FrameName(id);
            if (report.bTruncated)
                integrity.strDamaged += std::string(integrity.strDamaged.empty() ? "" : ", ") + "file cut short";
            CatchExeception::WriteLog("%s %d\r\n", "ReadResultHead", __LINE__);
        }
    } catch (const CRSException&) {
        return SCAN_RESULT_BAD_HEADER;
    }

    try {
        Step(sink);
        if (!stream->OpenFrame(_frFileSystemSearchControllerList))
            return SCAN_RESULT_BAD_SCAN_KIND;
        Step(sink);
        if (GetU32(stream) != kScanKindRecordLength) {
            CatchExeception::WriteLog("%s %d\r\n", "ReadResultHead", __LINE__);
            return SCAN_RESULT_BAD_SCAN_KIND;
        }
        kind.dwControllerType = GetU32(stream);
        kind.dwDeepScan = GetU32(stream);
        stream->CloseFrame();
        Step(sink);
    } catch (const CRSException&) {
        return SCAN_RESULT_BAD_SCAN_KIND;
    }

    try {
        if (!stream->OpenFrame(_frDiskDevice))
            return SCAN_RESULT_BAD_DEVICE;
        Step(sink);
        device.u64Capacity = GetU64(stream);
        device.iDiskIndex = static_cast<int32_t>(GetU32(stream));
        device.iVolumeIndex = static_cast<int32_t>(GetU32(stream));
        device.iFileSystem = static_cast<int32_t>(GetU32(stream));
        device.strName = GetString(stream, kMaxDeviceNameLength);
        stream->CloseFrame();
        Step(sink);
    } catch (const CRSException&) {
        return SCAN_RESULT_BAD_DEVICE;
    }
    return SCAN_RESULT_OK;
}

// ---- progress -----------------------------------------------------------------------

void SaveRestoreResult::IncProgress(IProgress* sink, bool finish, bool start)
{
    if (!sink)
        return;
    SharedProgress& p = Progress();
    _PROGRESS_INFO report;
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if (start) {
            std::memset(&p.info, 0, sizeof(p.info));
            p.info.dwState = PROGRESS_STATE_RUNNING;
            p.info.u64Total = kProgressTotal;
            p.info.u64Done = kProgressStart;
        } else if (finish) {
            p.info.dwState = PROGRESS_STATE_FINISHED;
            p.info.u64Done = p.info.u64Total;
        } else {
            const unsigned int now = GetTickCount();
            if (p.lastTick + kProgressStepTicks > now)
                return;
            p.lastTick = now;
            if (p.info.u64Done + 2 < p.info.u64Total)
                ++p.info.u64Done;
        }
        report = p.info;
    }
    sink->UpdateProgress(&report);
}

void SaveRestoreResult::TipError(IProgress* sink, int code)
{
    if (!sink)
        return;
    SharedProgress& p = Progress();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        // Reported by the finish of the same save or load. A finished record
        // sent here, before the operation's thread is done, would let the
        // caller start the next operation while this one still runs, and
        // the late finish would then be taken for the next one's.
        p.info.u64Result = static_cast<uint64_t>(code);
    }
    CatchExeception::WriteLog("%s %d\r\n", "TipError", code);
}

// ---- HFS+ readers of the last load ------------------------------------------------------

CHFSPlusVolume* SaveRestoreResult::GetCachedHFSPlusVolume(int searcherType)
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    auto it = cache.map.find(searcherType);
    return it == cache.map.end() ? nullptr : it->second;
}

void SaveRestoreResult::KeepHFSPlusVolume(int searcherType, CHFSPlusVolume* volume)
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    CHFSPlusVolume*& slot = cache.map[searcherType];
    if (slot && slot != volume)
        delete volume;  // one reader per type: the first stays
    else
        slot = volume;
}

void SaveRestoreResult::ClearHFSPlusVolumes()
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    for (auto& [type, volume] : cache.map)
        delete volume;
    cache.map.clear();
}
