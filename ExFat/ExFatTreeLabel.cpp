#include "ExFatTreeLabel.h"

#include <string>
#include <vector>

#include "ExFatDirEntry.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "Utf16Name.h"

namespace {
constexpr uint8_t kLabelEntryType = 0x83;
constexpr unsigned int kMaxSectorSize = 4096;
}  // namespace

void NameExFatTreeAfterLabel(IDirecotryTreeBuilder* builder, IStorageDevice* device, long long rootSector)
{
    if (!builder || !device || rootSector < 0)
        return;
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize < 512 || sectorSize > kMaxSectorSize)
        return;
    std::vector<uint8_t> sector(sectorSize, 0);
    if (!device->ReadSector(sector.data(), rootSector, 1))
        return;
    for (size_t at = 0; at + sizeof(_tagExFatDirEntry) <= sector.size(); at += sizeof(_tagExFatDirEntry)) {
        const _tagExFatDirEntry& entry = *_tagExFatDirEntry::At(sector.data() + at);
        if (entry.Type() == 0)
            return;  // end of the directory
        if (entry.Type() != kLabelEntryType || !IsValidVolumeLabelEntry(entry))
            continue;
        std::u16string units;
        for (size_t i = 0; i < entry.CharacterCount(); ++i)
            units.push_back(entry.LabelChar(i));
        std::string label;
        CUtf16NameConverter converter;
        if (!units.empty() && converter.Convert(units, label) && !label.empty())
            builder->SetSearcherVolumeName(SEARCHER_EXFAT, label.c_str());
        return;
    }
}
