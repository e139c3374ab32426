// Picks the registered recogniser that accepts a volume.
#pragma once

#include <memory>
#include <vector>

#include "ISearcher.h"

class CVolumeAnalyzeController final : public IVolumeAnalyzeController {
public:
    CVolumeAnalyzeController(IStorageDevice* device, unsigned long long startSector);
    // The first recogniser whose file-system type is not 10 (unknown), or null.
    IVolumeAnalyze* GetVolumeAnzlyzer() override;

private:
    std::vector<std::unique_ptr<IVolumeAnalyze>> m_vAnalyzers;
};
