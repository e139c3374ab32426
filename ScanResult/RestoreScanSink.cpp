#include "RestoreScanSink.h"

#include <memory>
#include <string>

#include "HFSPlusVolume.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "SearchedPartitionInfo.h"

using namespace ScanResultFormat;
using namespace ScanResultIO;

namespace {

bool IsKnownSearcherType(int type)
{
    return type >= SEARCHER_HFSPLUS && type <= SEARCHER_APFS;
}

}  // namespace

// ---- restore sink ------------------------------------------------------------------------------------

RestoreScanSink::RestoreScanSink(IRSData* stream) : m_pStream(stream) {}

RestoreScanSink::~RestoreScanSink()
{
    ClearMapCell();
}

int RestoreScanSink::ClearMapCell()
{
    for (auto& [type, list] : m_mapPartitions)
        for (CSearchedPartitionInfo* p : list)
            delete p;
    m_mapPartitions.clear();
    return 0;
}

const std::vector<CSearchedPartitionInfo*>& RestoreScanSink::GetSearchedPartition(int searcherType)
{
    return m_mapPartitions[searcherType];
}

int RestoreScanSink::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                             IStorageDevice* device)
{
    if (!m_pStream || !builder || !device)
        return 1;
    // On a volume, the trees saved under its name: the name its scan gave
    // them, which is the builder's "Disk" when the volume has none.
    const bool wholeDisk = device->GetType() == STORAGE_DEVICE_DISK || (m_isWholeDisk && m_isWholeDisk(device));
    std::string expected = GetDeviceDescription(device);
    // A device without a name of its own had its trees named after the
    // volumes' labels (or "Disk"): every tree saved from it is its own.
    const bool unnamedDevice = expected.empty();
    if (expected.empty())
        expected = "Disk";

    // Every saved result has this frame, if only with a count of 0: a file
    // without it was cut or damaged.
    try {
        if (!m_pStream->OpenFrame(_frFileSystemNode)) {
            m_bDamaged = true;
            return 1;
        }
    } catch (const CRSException&) {
        m_bDamaged = true;
        return 1;
    }
    ClearMapCell();

    auto keepGoing = [progress] { return !progress || progress->Continued(); };
    bool replaying = false;
    _tagSearcherType type = SEARCHER_NONE;
    try {
        const uint64_t count = GetU64(m_pStream);
        SaveRestoreResult::IncProgress(progress, false, false);
        for (uint64_t tree = 0; tree < count && keepGoing(); ++tree) {
            if (GetU32(m_pStream) != kTreeMarker) {
                m_bDamaged = true;
                break;
            }
            std::unique_ptr<SaveRestoreResult::RestoreSystemNode> root(
                SaveRestoreResult::RestoreSystemNode::ReadSystemNode(m_pStream, nullptr));
            type = root->GetSearcheType();
            const char* volumeName = root->GetVolumeName();
            replaying =
                IsKnownSearcherType(type) && *volumeName && (wholeDisk || unnamedDevice || expected == volumeName);
            if (replaying) {
                builder->AddSearcherInfo(type, root->GetCurrentNodeID());
                builder->SetSearcherVolumeName(type, volumeName);
                ++m_iReplayedTrees;
                SaveRestoreResult::IncProgress(progress, false, false);
                // One reader per type for the compressed files of the load.
                if (type == SEARCHER_HFSPLUS && !SaveRestoreResult::GetCachedHFSPlusVolume(type)) {
                    auto volume = std::make_unique<CHFSPlusVolume>(device, true);
                    if (!IsResultFailure(volume->GetLastError()))
                        SaveRestoreResult::KeepHFSPlusVolume(type, volume.release());
                }
            }
            root.reset();

            const uint32_t partitions = GetU32(m_pStream);
            if (partitions > kMaxPartitions) {
                m_bDamaged = true;
                break;
            }
            std::vector<CSearchedPartitionInfo*>* list = replaying ? &m_mapPartitions[type] : nullptr;
            bool badKind = false;
            for (uint32_t i = 0; i < partitions; ++i) {
                // Each kind is followed by its record: an unknown kind means
                // the bytes are not what the writer put there.
                if (GetU32(m_pStream) > kMaxPartitionKind) {
                    badKind = true;
                    break;
                }
                std::unique_ptr<CSearchedPartitionInfo> p(SaveRestoreResult::ReadPartitionRecord(m_pStream));
                if (list)
                    list->push_back(p.release());
            }
            if (badKind) {
                m_bDamaged = true;
                break;
            }

            uint32_t marker = GetU32(m_pStream);
            while (marker == kNodeMarker && keepGoing()) {
                std::unique_ptr<SaveRestoreResult::RestoreFileNode> node(
                    SaveRestoreResult::RestoreFileNode::ReadFileNode(m_pStream, nullptr));
                if (replaying && builder->AddNode(node.get(), type))
                    node.release();  // the builder owns it now
                SaveRestoreResult::IncProgress(progress, false, false);
                marker = GetU32(m_pStream);
            }
            if (replaying)
                builder->FlashBuild(type);
            replaying = false;
            if (marker != kNodeMarker && marker != kEndMarker) {
                m_bDamaged = true;
                break;
            }
        }
    } catch (const CRSException&) {
        // The frame ends inside a tree (a cut or damaged file): what was
        // read of that tree is shown too.
        m_bDamaged = true;
        if (replaying)
            builder->FlashBuild(type);
    }
    m_pStream->CloseFrame();
    return 0;
}
