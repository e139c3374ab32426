#include "FATFolderAnalyser.h"

#include "ResultCode.h"

void CFATFolderAnalyser::Clear()
{
    m_dwDirectoryEntryType = 0;
    m_dwEntryCount = 0;
    m_dwCurDirCluster = 0;
    m_dwParentDirCluster = 0;
    m_dwMaxCluster = 0;
}

bool CFATFolderAnalyser::IsCurDirFileName(const CTempFATDirEntry& entry)
{
    return entry.IsFilenameEqual(".       ", "   ") && entry.IsDirectory();
}

bool CFATFolderAnalyser::IsParentDirFileName(const CTempFATDirEntry& entry)
{
    return entry.IsFilenameEqual("..      ", "   ") && entry.IsDirectory();
}

bool CFATFolderAnalyser::IsBlankFATDirEntry(const uint8_t* pBuffer)
{
    VANTREL_ASSERT(pBuffer != NULL);
    for (size_t i = 0; i < kFATDirEntrySize; ++i)
        if (pBuffer[i] != 0)
            return false;
    return true;
}

int CFATFolderAnalyser::AnalyseSector(const uint8_t* pSectorBuffer, CFatFolderAnalyzeCB* callback, void* context)
{
    VANTREL_ASSERT(pSectorBuffer != NULL);
    Clear();
    if (m_dwSectorSize == 0)
        return 0;

    bool dot = false;
    bool dotDot = false;
    bool ranToEnd = true;
    bool stoppedAtBlank = false;
    bool equalClusters = false;
    unsigned int previousCluster = 0xFFFFFFFF;
    CTempFATDirEntry entry(pSectorBuffer);
    unsigned int index = 0;
    for (size_t offset = 0; offset + kFATDirEntrySize <= m_dwSectorSize; offset += kFATDirEntrySize, ++index) {
        const uint8_t* bytes = pSectorBuffer + offset;
        entry.InitFromBuffer(bytes);
        if (!entry.IsValidFATDirEntry(1)) {
            ranToEnd = false;
            stoppedAtBlank = IsBlankFATDirEntry(bytes);
            break;
        }
        if (entry.IsLongFileNameEntry())
            continue;
        unsigned int cluster = entry.GetFirstClusterNO();
        if (cluster > m_dwMaxCluster)
            m_dwMaxCluster = cluster;
        if (index == 1 && IsParentDirFileName(entry)) {
            m_dwParentDirCluster = cluster;
            dotDot = true;
            continue;
        }
        if (index == 0 && IsCurDirFileName(entry)) {
            m_dwCurDirCluster = cluster;
            dot = true;
            continue;
        }
        if (callback)
            callback->OnFatFolderEntry(this, &entry, 0xFFFFFFFF, index, (dot && dotDot) ? 1 : 0, context);
        if (!entry.IsErased()) {
            // Two live entries in a row that start at the same cluster end
            // the scan as rejected (unless the "." / ".." start was seen).
            if (cluster == previousCluster) {
                ranToEnd = false;
                equalClusters = true;
                break;
            }
            previousCluster = cluster;
        }
        ++m_dwEntryCount;
    }

    if (dot && dotDot) {
        m_dwDirectoryEntryType = 2;
        return 1;
    }
    bool accepted = m_dwEntryCount >= 1 && !equalClusters && (ranToEnd || stoppedAtBlank);
    if (!accepted) {
        Clear();
        return 0;
    }
    m_dwDirectoryEntryType = 1;
    m_dwCurDirCluster = 0;
    m_dwParentDirCluster = 0;
    return 1;
}
