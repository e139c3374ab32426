// The contract between the RAW searcher and the format analysers.
#pragma once

#include <string>

#include "RawFileInfo.h"

class IStorageDevice;

// Second base of the analysers that look at more than one sector to
// recognise a start. [contextStart, contextEnd) are the sectors whose bytes
// lie in memory around sector.
class ISpecialRawFileAnalyser {
public:
    virtual int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                long long sectorNumber, long long contextStart, long long contextEnd) = 0;

protected:
    ~ISpecialRawFileAnalyser() = default;
};

class IRawFileAnalyser {
public:
    explicit IRawFileAnalyser(unsigned int analyserId = RAW_ANALYSER_ID_PER_FILE) : m_dwAnalyserID(analyserId) {}
    IRawFileAnalyser(const IRawFileAnalyser&) = delete;
    IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;
    virtual ~IRawFileAnalyser() = default;

    // Whole-file sizing from the device, starting at info's start sector.
    virtual int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device);
    // The probe: 1 when a file of this format starts in sector.
    virtual int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info);
    // Name stem and time text read from the last analysed file.
    virtual std::string GetRawFileName();
    virtual std::string GetRawFileTime();
    // A new empty candidate of the class this format needs; null opens none.
    virtual CRawFileInfo* CreateRawFileInfo();
    virtual ISpecialRawFileAnalyser* GetSpecialRawFile();

    unsigned int GetAnalyserID() const { return m_dwAnalyserID; }

protected:
    // The type index of the format, or RAW_ANALYSER_ID_PER_FILE.
    unsigned int m_dwAnalyserID;
};
