#include "HFSPlusVolumeName.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "HFSPlusBTree.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusStructs.h"
#include "HFSPlusVolume.h"

namespace {
constexpr uint32_t kRootFolderId = 2;
constexpr int kCatalogTree = 4;
}  // namespace

std::string HfsNameToUtf8(const HFSUniStr255& name)
{
    const size_t length = std::min<size_t>(name.length, 255);
    char16_t units[255];
    for (size_t i = 0; i < length; ++i)
        units[i] = static_cast<char16_t>(name.unicode[i]);
    return HfsUtf16ToUtf8(units, length, 255);
}

std::string GetHFSPlusVolumeName(CHFSPlusVolume* volume)
{
    if (!volume)
        return {};
    // The thread of a folder is keyed by the folder's own id and an empty name.
    auto key = std::make_unique<BTKey>();
    std::memset(key.get(), 0, sizeof(BTKey));
    key->catalog.keyLength = 6;
    key->catalog.parentID = kRootFolderId;
    HFSPlusSearchResult result;
    unsigned char* record = nullptr;
    volume->Search(kCatalogTree, key.get(), result, &record);
    std::unique_ptr<unsigned char[]> owned(record);
    if (!result.found || !record)
        return {};
    // The record is only as long as its type: a folder or file record found
    // under the root's thread key is shorter than a thread, so the type is
    // looked at before a thread is copied out (whole, zero-filled past its
    // name).
    int16_t type = 0;
    std::memcpy(&type, record, sizeof(type));
    if (type != kHFSPlusFolderThreadRecord)
        return {};
    HFSPlusCatalogThread thread;
    std::memcpy(&thread, record, sizeof(thread));
    return HfsNameToUtf8(thread.nodeName);
}
