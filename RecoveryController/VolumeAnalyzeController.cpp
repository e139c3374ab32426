#include "VolumeAnalyzeController.h"

#include "SearcherRegistry.h"

CVolumeAnalyzeController::CVolumeAnalyzeController(IStorageDevice* device, unsigned long long startSector)
{
    if (!device)
        return;
    for (VolumeAnalyzeFactory factory : GetVolumeAnalyzeFactories())
        if (IVolumeAnalyze* analyzer = factory(device, startSector))
            m_vAnalyzers.emplace_back(analyzer);
}

IVolumeAnalyze* CVolumeAnalyzeController::GetVolumeAnzlyzer()
{
    for (auto& analyzer : m_vAnalyzers)
        if (analyzer->GetFileSystemType() != FS_UNKNOWN)
            return analyzer.get();
    return nullptr;
}

IVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device, unsigned long long startSector)
{
    return new CVolumeAnalyzeController(device, startSector);
}
