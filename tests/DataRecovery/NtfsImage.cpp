#include "NtfsImage.h"

#include <gtest/gtest.h>

NtfsImage* NtfsImage::Get()
{
    static NtfsImage* s_image = [] {
        auto* image = new NtfsImage();
        image->m_dir = std::make_unique<TempDir>();
        image->m_path = *image->m_dir / "ntfs.img";
        RunTool("xz -dc '" VANTREL_SOURCE_DIR "/tests/data/ntfs_lznt1.img.xz' > '" + image->m_path + "'");
        std::string manifest = *image->m_dir / "ntfs.tsv";
        RunTool("python3 '" VANTREL_SOURCE_DIR "/tests/tools/tsk2manifest.py' '" + image->m_path + "' > '" +
                manifest + "'");
        std::string error;
        if (!LoadManifest(manifest, image->m_manifest, error)) {
            ADD_FAILURE() << error;
            delete image;
            return static_cast<NtfsImage*>(nullptr);
        }
        return image;
    }();
    if (!s_image)
        ADD_FAILURE() << "the NTFS image is not available";
    return s_image;
}

const std::string& NtfsImage::Oracle(const std::string& name)
{
    auto it = m_oracle.find(name);
    if (it != m_oracle.end())
        return it->second;
    const ManifestEntry* e = m_manifest.Find(name);
    std::string out = *m_dir / (name + ".icat");
    if (e)
        RunTool("icat '" + m_path + "' " + std::to_string(e->id) + " > '" + out + "'");
    else
        ADD_FAILURE() << name << " is not in the manifest";
    return m_oracle[name] = ReadFileBytes(out);
}

std::unique_ptr<RunNode> NtfsImage::MakeNode(const std::string& name) const
{
    const ManifestEntry* e = m_manifest.Find(name);
    if (!e) {
        ADD_FAILURE() << name << " is not in the manifest";
        return nullptr;
    }
    auto node = std::make_unique<RunNode>(name, e->size);
    auto* list = new CDataRunList();
    for (auto [start, length] : e->runs) {
        DataRun r;
        r.llStart = start;
        r.llLength = length;
        list->AddDataRun(&r);
    }
    node->SetDataRunList(list);
    node->SetCompressed(e->compressed);
    node->m_created = e->ctime;
    return node;
}

CSearchedPartitionInfo NtfsImage::Partition() const
{
    return MakePartition(m_manifest.sectorsPerUnit, m_manifest.unitBase, FS_NTFS);
}

std::unique_ptr<CImageFileDevice> NtfsImage::OpenDevice() const { return OpenImageFileDisk(m_path, 512); }
