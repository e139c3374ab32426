#include "SearchHarness.h"

#include <algorithm>

#include "FileNode.h"
#include "RAWFileNode.h"

int ByteDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!buffer || count <= 0)
        return 0;
    const long long total = GetTotalSectors();
    if (first < 0 || first >= total || count > total - first) {
        std::memset(buffer, 0, static_cast<size_t>(count) * m_dwSectorSize);
        return 0;
    }
    std::memcpy(buffer, Sector(first), static_cast<size_t>(count) * m_dwSectorSize);
    return 1;
}

std::vector<std::string>& FakeEvents()
{
    static std::vector<std::string> events;
    return events;
}

int& FakeCandidatesAlive()
{
    static int alive = 0;
    return alive;
}

namespace {

void Log(const std::string& text)
{
    FakeEvents().push_back(text);
}

uint64_t LE64(const unsigned char* p)
{
    uint64_t v = 0;
    std::memcpy(&v, p, 8);
    return v;
}

long long SectorNumberOf(const unsigned char* sector)
{
    return static_cast<long long>(LE64(sector + 16));
}

constexpr unsigned int kFakeType = 35;

class FakeCandidate : public CRawFileInfo {
public:
    explicit FakeCandidate(char kind) : m_cKind(kind) { ++FakeCandidatesAlive(); }
    ~FakeCandidate() override { --FakeCandidatesAlive(); }
    bool WhetherImplementGuess() override
    {
        return m_cKind == 'T' || m_cKind == 'Z' || m_cKind == 'R' || m_cKind == 'U';
    }
    // 'U' holds nothing: another header ends it.
    bool HoldsSector(long long, const SearchContext&) override { return m_cKind != 'U'; }
    void WillBeRemove(unsigned char*, long long sectorNumber) override
    {
        Log("remove " + std::to_string(m_llStartSector) + " " + std::to_string(sectorNumber));
    }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context) override
    {
        Log("feed " + std::to_string(m_llStartSector) + " " + std::to_string(sectorNumber));
        if (m_cKind == 'R') {
            // In a block's last sector: what lies past it in memory.
            if (sectorNumber + 1 == context.llBlockEnd) {
                bool zero = true;
                for (int i = 0; i < 4096; ++i)
                    zero = zero && sector[sectorSize + i] == 0;
                const bool readable = context.bytes(sectorNumber + 1, 0, 1) != nullptr ||
                                      context.bytes(sectorNumber, sectorSize, 1) != nullptr;
                Log("past " + std::to_string(sectorNumber) + (zero ? " zero" : " stale") +
                    (readable ? " readable" : ""));
            }
            return 2;
        }
        if (m_cKind == 'Z') {
            if (m_llSize == 0)
                m_llSize = 3LL * sectorSize;
            return 2;
        }
        if (std::memcmp(sector, "END!", 4) == 0) {
            m_llSize = (sectorNumber - m_llStartSector + 1) * sectorSize;
            return 1;
        }
        return 2;
    }

private:
    char m_cKind;
};

class FakeAnalyser : public IRawFileAnalyser {
public:
    explicit FakeAnalyser(unsigned int id) : IRawFileAnalyser(id) {}

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override
    {
        Log(std::string("ask ") + static_cast<char>(m_dwAnalyserID) + " " + std::to_string(SectorNumberOf(sector)));
        if (sector[5] != '*' && sector[5] != static_cast<unsigned char>(m_dwAnalyserID))
            return 0;
        m_cKind = static_cast<char>(sector[4]);
        info.m_dwType = kFakeType;
        if (m_cKind == 'S')
            info.m_llSize = static_cast<long long>(LE64(sector + 8));
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override
    {
        if (m_cKind == 'N')
            return nullptr;
        return new FakeCandidate(m_cKind);
    }
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override
    {
        Log("size " + std::to_string(info.m_llStartSector));
        std::vector<unsigned char> buf(device->GetSectorSize());
        if (!device->ReadSector(buf.data(), info.m_llStartSector, 1))
            return 0;
        info.m_llSize = static_cast<long long>(LE64(buf.data() + 8));
        return 1;
    }

private:
    char m_cKind = 0;
};

class FakeSpecialAnalyser : public FakeAnalyser, public ISpecialRawFileAnalyser {
public:
    using FakeAnalyser::FakeAnalyser;
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override
    {
        Log("plain ask of a special analyser");
        return 1;
    }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long contextStart, long long contextEnd) override
    {
        Log("ex " + std::to_string(sectorSize) + " " + std::to_string(sectorNumber) + " " +
            std::to_string(contextStart) + " " + std::to_string(contextEnd));
        return FakeAnalyser::AnalyseBuffer(sector, info);
    }
};

}  // namespace

void MarkSector(ByteDevice& device, long long sector, uint32_t key, char kind, char id, uint64_t size)
{
    unsigned char* p = device.Sector(sector);
    std::memcpy(p, &key, 4);
    p[4] = static_cast<unsigned char>(kind);
    p[5] = static_cast<unsigned char>(id);
    std::memcpy(p + 8, &size, 8);
}

void StampSectorNumbers(ByteDevice& device)
{
    for (long long s = 0; s < device.GetTotalSectors(); ++s) {
        const uint64_t n = static_cast<uint64_t>(s);
        std::memcpy(device.Sector(s) + 16, &n, 8);
    }
}

IRawFileAnalyser* CreateFakeAnalyser(unsigned int id)
{
    return new FakeAnalyser(id);
}

IRawFileAnalyser* CreateFakeSpecialAnalyser(unsigned int id)
{
    return new FakeSpecialAnalyser(id);
}

SearchHarness::SearchHarness(long long totalSectors, unsigned int sectorSize, std::span<const RawAnalyserRow> rows)
    : m_device(totalSectors, sectorSize),
      m_counting(&m_device),
      m_pProgress(std::make_unique<FakeProgress>()),
      m_rows(rows),
      m_pSearcher(std::make_unique<CRAWSearchController>())
{
    FakeEvents().clear();
}

SearchHarness::~SearchHarness()
{
    m_pSearcher.reset();
}

void SearchHarness::Prepare()
{
    ScopedRawAnalyserRows rows(m_rows);
    CRAWSearchController& s = *m_pSearcher;
    s.SetFileSectorMap(&m_fileSectors);
    s.SetIProgressSink(m_pProgress.get());
    s.SetDevice(&m_counting);
    s.SetBlockSize(kBlock);
    s.SetDirecotryTreeBuilder(&m_builder);
    s.SetBitmap(&m_bitmap);
    s.PreparetoSearch();
    FakeEvents().clear();
}

void SearchHarness::Block(long long index)
{
    const long long total = m_device.GetTotalSectors();
    const long long start = index * kBlock;
    m_pSearcher->AnalyzeBlock(start, std::min<long long>(kBlock, total - start));
}

void SearchHarness::BlocksFrom(long long index)
{
    for (long long b = index; b * kBlock < m_device.GetTotalSectors(); ++b)
        Block(b);
}

std::vector<CarvedFile> SearchHarness::Files() const
{
    m_files.clear();
    for (const RecordingTreeBuilder::Entry& e : m_builder.Accepted()) {
        if (e.directory)
            continue;
        CarvedFile f{e.name, "", -1, e.node->GetFileSize()};
        if (const auto* folder = m_builder.FindId(e.parentId, e.type))
            f.folder = folder->name;
        auto* node = dynamic_cast<CFileNode*>(e.node);
        if (node && node->GetDataRunList() && node->GetDataRunList()->GetFirst())
            f.start = node->GetDataRunList()->GetFirst()->llStart;
        m_files.push_back(f);
    }
    return m_files;
}

const CarvedFile* SearchHarness::FileAt(long long start) const
{
    Files();
    auto it = std::find_if(m_files.begin(), m_files.end(), [start](const CarvedFile& f) { return f.start == start; });
    return it == m_files.end() ? nullptr : &*it;
}

FollowedCarve CarveFollowed(const std::vector<unsigned char>& file, const std::vector<unsigned char>& after,
                            unsigned int sectorSize, std::span<const RawAnalyserRow> rows)
{
    FollowedCarve out;
    const long long ss = sectorSize;
    const long long start = FollowedCarve::kFollowedStart;
    out.nextSector = start + (static_cast<long long>(file.size()) + ss - 1) / ss;
    SearchHarness h(out.nextSector + (static_cast<long long>(after.size()) + ss - 1) / ss + 40, sectorSize, rows);
    h.Device().Put(start * ss, file);
    h.Device().Put(out.nextSector * ss, after);
    h.Run();
    out.all = h.Files();
    // Starts are counted in 512-byte units or in sectors.
    for (const CarvedFile& f : out.all)
        if (f.start == start * (ss / 512) || f.start == start)
            out.file = f;
    return out;
}
