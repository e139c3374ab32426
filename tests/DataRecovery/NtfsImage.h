// The committed NTFS image with LZNT1-compressed files, unpacked once per
// test binary, with its manifest and The Sleuth Kit's copy of each file.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ImageFileDevice.h"
#include "Manifest.h"
#include "RecoveryTestSupport.h"

class NtfsImage {
public:
    // Null (and a test failure) when the image cannot be unpacked.
    static NtfsImage* Get();

    const std::string& Path() const { return m_path; }
    const Manifest& GetManifest() const { return m_manifest; }
    // icat's bytes of a file of the image.
    const std::string& Oracle(const std::string& name);
    // A node of the named file, as the manifest describes it.
    std::unique_ptr<RunNode> MakeNode(const std::string& name) const;
    CSearchedPartitionInfo Partition() const;
    std::unique_ptr<CImageFileDevice> OpenDevice() const;

private:
    std::unique_ptr<TempDir> m_dir;
    std::string m_path;
    Manifest m_manifest;
    std::map<std::string, std::string> m_oracle;
};
