// MP3 files (MPEG audio with or without ID3 tags): recognised by an ID3 tag
// or a chain of frame headers, followed to their end while the search runs,
// named from their tags; a file that cannot be followed is sized afterwards
// from the device.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "MpaHeader.h"
#include "RawFileAnalyser.h"

class RawFileBuffer;

// Whole-file sizing of an MP3 from the device.
class FileMP3Analyser : public IRawFileAnalyser {
public:
    static constexpr unsigned int kType = 43;
    static constexpr uint32_t kMaxFrame = 352800;

    FileMP3Analyser() : IRawFileAnalyser(kType) {}
    ~FileMP3Analyser() override;

    // 1 with the size set; 0 when no size can be given.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_strName; }
    std::string GetRawFileTime() override { return m_strTime; }
    virtual int GetRawFileSizeXING(CRawFileInfo& info, IStorageDevice* device);
    virtual int GetRawFileSizeFromFrame(CRawFileInfo& info, IStorageDevice* device);
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value);

private:
    int GetRawFileSizeID3(CRawFileInfo& info, IStorageDevice* device);
    // Names the file from artist and title ("%s_%s") and labels it.
    void SetNameAndLabel(CRawFileInfo& info, const std::string& artist, const std::string& title);

    std::string m_strName;
    std::string m_strTime;
    RAW_FILE_TAG m_eTag = RAW_TAG_NONE;
    std::string m_strTagValue;
};

namespace BruteForce {

class MP3Analyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr unsigned int kType = FileMP3Analyser::kType;

    MP3Analyzer();
    ~MP3Analyzer() override;

    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }

    FileMP3Analyser* GetFileAnalyser() { return m_pFileAnalyser.get(); }

    // Non-zero while a stream found by its frames alone is open: no other
    // frame-led candidate starts meanwhile.
    static long long m_lastStartSector;

private:
    std::unique_ptr<FileMP3Analyser> m_pFileAnalyser;
};

class MP3RawFileInfo : public CRawFileInfo {
public:
    static constexpr long long kMaxId3Led = 524288000;
    static constexpr long long kShortStream = 10240;

    explicit MP3RawFileInfo(FileMP3Analyser* sizer);
    ~MP3RawFileInfo() override;

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override;
    // The frame walk of a file that begins with a frame.
    virtual int CalcRawSizeEx(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context);
    // A sector inside the leading ID3 tag (a cover picture).
    bool HoldsSector(long long sectorNumber, const SearchContext& context) override;

    // Reads the ID3v2 tag at buffer: artist, title, year, pictures, lyrics.
    void GatherTagInfo(const unsigned char* buffer, long long length);
    // 2 when the start looks like a real file, 1 when not.
    int AdjustMp3Health(const unsigned char* buffer, int sectorSize, long long sectorNumber,
                        const SearchContext& context);
    // The ID3v1 tag in the end window: the offset just past "TAG", 0 none.
    int FindTagInEndSector(const unsigned char* window, int length, int trailingZeros, long long sectorNumber);
    // 1 when a non-zero byte value repeats more than 64 times in the window.
    int FindDuplicateByteCount(const unsigned char* window, int length, int trailingZeros);
    // A text frame's body (encoding byte first) as UTF-8.
    void GetTagValue(const unsigned char* frame, unsigned int frameSize, std::string& out, bool guess);

    long long m_llPictureOffset = 0;
    long long m_llPictureSize = 0;
    uint32_t m_dwEndThreshold = 20480;
    uint64_t m_u64StreamOffset = 0;
    uint32_t m_dwFrameLed = 0;
    uint32_t m_dwCarry = 0;
    uint64_t m_u64BytesToHere = 0;
    uint64_t m_u64SizeCap = 0xC800000;
    long long m_llLastExamined = -1;
    std::array<uint16_t, 256> m_byteCounts{};
    std::string m_strCharset;

private:
    // Walks the frames that begin before the end of this sector: 1 when the
    // walk goes on, 0 when it ended, 2 when a record lies past memory.
    int bContinue(int sectorSize, long long sectorNumber, const SearchContext& context);
    // Ends the candidate: clears the open-stream mark, answers 1.
    int Finish();

    // The frame walk after a leading ID3 tag: 2 until its answer is known
    // (more sectors), 1 ended with the size set, 0 when it cannot follow
    // the frames and the tag's own end rules decide.
    int WalkAfterTag(int sectorSize, long long sectorNumber, const SearchContext& context);

    FileMP3Analyser* m_pSizer;
    bool m_bStarted = false;
    // Where the leading ID3 tag ends, 0 when the file has none; whether the
    // frames after it are being walked.
    long long m_llTagEnd = 0;
    bool m_bWalkAfterTag = false;
    // The walk met bytes that are no longer in memory.
    bool m_bLost = false;
    // The frame that opened a frame-led stream; later frames must match it.
    CMPAHeader m_firstHeader;
};

}  // namespace BruteForce

// A frame header at p: frame sync, decodable, and a length of 1 to
// FileMP3Analyser::kMaxFrame; the length, or 0.
uint32_t Mp3FrameLength(const unsigned char* p, CMPAHeader* header = nullptr);
// Title (bytes 3-32) and artist (33-62) of the ID3v1 tag at tag, converted
// by a guess of their set, cleaned and filtered.
void ReadId3v1(const unsigned char* tag, std::string& title, std::string& artist);

IRawFileAnalyser* CreateMP3Analyzer(unsigned int analyserId);
