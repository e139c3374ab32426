// The attribute record of a carved file or folder node.
#pragma once

#include <string>

#include "IFileNode.h"

class CRawFileInfo;

class CRAWFileProperties : public IFileProperties {
public:
    static CRAWFileProperties* Create();
    static void Destory(CRAWFileProperties* properties);

    ~CRAWFileProperties() override;
    CRAWFileProperties(const CRAWFileProperties&) = delete;
    CRAWFileProperties& operator=(const CRAWFileProperties&) = delete;

    int GetFileNameLength() override { return m_byNameLength; }
    void SetFileName(const char*) override {}
    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return m_llSize; }
    unsigned int GetAttribute() override { return m_wAttribute; }
    // The time of a carved file is text (GetRawFileTimeText); the file-time
    // slots of the record are not used.
    unsigned long long GetRawFileCreateTime() override { return 0; }
    unsigned long long GetCreationTime() override { return 0; }
    unsigned long long GetModificationTime() override { return 0; }
    unsigned long long GetLastAccessTime() override { return 0; }
    unsigned short GetState() override { return m_byState; }
    void SetState(unsigned short state) override { m_byState = static_cast<unsigned char>(state); }
    IDataRunList* GetDataRunList() override { return m_pDataRuns; }
    IFileProperties* Clone() override { return this; }

    unsigned char GetCheckState() const { return m_byCheckState; }
    void SetCheckState(unsigned char state) { m_byCheckState = state; }
    unsigned int GetMaskFlag() const { return 0x1CF; }
    unsigned char GetMatchState() const { return m_byMatchState; }
    int SetMatchState(int state)
    {
        m_byMatchState = static_cast<unsigned char>(state);
        return 1;
    }
    int GetFilePropertyiesType() const { return 3; }

    // Size, time text and the single run (start sector, size in 512-byte
    // units rounded up) from the candidate.
    int InitRawFileProperties(CRawFileInfo& info);
    void SetRawFileName(const char* pfileName);
    void SetRawFileTime(std::string text);
    void SetAttribute(unsigned short attribute) { m_wAttribute = attribute; }
    std::string GetRawFileTimeText() const { return m_strTime; }
    int GetRawFileTimeLength() const { return m_byTimeLength; }

private:
    CRAWFileProperties() = default;

    unsigned char m_byNameLength = 0;
    std::string m_strName;
    long long m_llSize = 0;
    unsigned short m_wAttribute = 0;
    unsigned char m_byCheckState = 0;
    unsigned char m_byMatchState = 0;
    unsigned char m_byState = 0;
    std::string m_strTime;
    unsigned char m_byTimeLength = 0;
    // Owned; the node that shows this record refers to it too.
    IDataRunList* m_pDataRuns = nullptr;
};
