#include "NtfsTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "NTFSDBR.h"
#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

const std::string kScript = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/make_ntfs.sh";

// Makes the images once per build folder under a file lock (ctest runs each
// test in its own process), and again when the script changes.
std::string CachedFixtures()
{
    const std::string dir = NTFS_FIXTURE_CACHE;
    const std::string stamp = FileDigest(kScript);
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path());
    const int lock = ::open((dir + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        ADD_FAILURE() << "cannot lock the NTFS fixture folder " << dir;
        return dir;
    }
    const std::string stampFile = dir + "/.stamp";
    if (ReadFileBytes(stampFile) != stamp) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir);
        RunTool("bash " + Quote(kScript) + " " + Quote(dir));
        std::ofstream(stampFile) << stamp;
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return dir;
}

const std::string& FixtureDir()
{
    static const std::string dir = CachedFixtures();
    return dir;
}

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) { std::memcpy(v.data() + at, &x, 2); }
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }
void Put64(std::vector<uint8_t>& v, size_t at, uint64_t x) { std::memcpy(v.data() + at, &x, 8); }

}  // namespace

std::string NtfsImagePath(const std::string& name) { return FixtureDir() + "/" + name; }
std::string NtfsSource(const std::string& name) { return ReadFileBytes(FixtureDir() + "/src/" + name); }
bool NtfsFixtureMounted() { return std::filesystem::exists(FixtureDir() + "/mounted.txt"); }

unsigned long long NtfsRecordOffset(const std::string& image, long long n)
{
    const std::vector<uint8_t> boot = ReadAt(image, 0, 512);
    CNTFSDBR dbr;
    EXPECT_TRUE(dbr.InitFromBuffer(boot.data()));
    const unsigned long long cluster = dbr.GetSectorsperCluster() * 512ULL;
    std::vector<uint8_t> mft = ReadAt(image, dbr.GetMFTStartCluster() * cluster, 1024);
    CNTFSFileRecord::UnfixupFileRecord(mft.data(), 1024);
    CNTFSDataRunList runs;
    unsigned long long real = 0;
    EXPECT_TRUE(CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(mft.data(), runs, true, real));
    if (runs.IsEmpty())
        return 0;
    const long long lcn = runs.GetLCN(n * 1024 / static_cast<long long>(cluster));
    EXPECT_GE(lcn, 0);
    return static_cast<unsigned long long>(lcn) * cluster + (static_cast<unsigned long long>(n) * 1024) % cluster;
}

std::vector<uint8_t> NtfsReadRecord(const std::string& image, long long n)
{
    return ReadAt(image, NtfsRecordOffset(image, n), 1024);
}

void PatchRecord(const std::string& image, long long n, const std::function<void(std::vector<uint8_t>&)>& change,
                 bool keepRaw)
{
    const unsigned long long at = NtfsRecordOffset(image, n);
    std::vector<uint8_t> r = ReadAt(image, at, 1024);
    if (!keepRaw)
        CNTFSFileRecord::UnfixupFileRecord(r.data(), 1024);
    change(r);
    if (!keepRaw)
        CNTFSFileRecord::FixupFileRecord(r.data(), 1024);
    WriteAt(image, at, r.data(), r.size());
}

void SetRecordParent(const std::string& image, long long n, long long parent)
{
    PatchRecord(image, n, [&](std::vector<uint8_t>& r) {
        const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_FILE_NAME, 0);
        ASSERT_NE(at, 0xFFFFFFFFu);
        std::memcpy(r.data() + at + 24, &parent, 6);
    });
}

void CopyImage(const std::string& from, const std::string& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    ASSERT_TRUE(f.good()) << path;
}

std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size)
{
    std::vector<uint8_t> out(size, 0);
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    return out;
}

std::map<std::string, FlsEntry> NtfsFlsTree(const std::string& image, unsigned int sectorSize)
{
    std::map<std::string, FlsEntry> out;
    const std::string options = sectorSize == 512 ? "" : " -b " + std::to_string(sectorSize);
    std::istringstream lines(RunTool("fls -r -p" + options + " " + Quote(image)));
    std::string line;
    while (std::getline(lines, line)) {
        // "r/r * 75-128-2:\told folder/gone.bin"
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string path = line.substr(tab + 1);
        if (path.empty() || path[0] == '$' || path.find(":") != std::string::npos)
            continue;
        FlsEntry e;
        e.directory = line[0] == 'd' || line[2] == 'd';
        e.deleted = line.find(" * ") != std::string::npos;
        const size_t start = line.find_first_of("0123456789", 3);
        e.inode = std::stoll(line.substr(start));
        out["/" + path] = e;
    }
    return out;
}

unsigned long long UnixToFileTime(long long seconds)
{
    return static_cast<unsigned long long>(seconds + 11644473600LL) * 10000000ULL;
}

std::vector<uint8_t> MakeResident(uint32_t type, const std::vector<uint8_t>& value, const std::u16string& name,
                                  uint16_t flags)
{
    const size_t nameAt = 24;
    const size_t valueAt = (nameAt + name.size() * 2 + 7) & ~size_t(7);
    const size_t length = (valueAt + value.size() + 7) & ~size_t(7);
    std::vector<uint8_t> a(length, 0);
    Put32(a, 0, type);
    Put32(a, 4, static_cast<uint32_t>(length));
    a[9] = static_cast<uint8_t>(name.size());
    Put16(a, 10, static_cast<uint16_t>(nameAt));
    Put16(a, 12, flags);
    Put32(a, 16, static_cast<uint32_t>(value.size()));
    Put16(a, 20, static_cast<uint16_t>(valueAt));
    std::memcpy(a.data() + nameAt, name.data(), name.size() * 2);
    std::memcpy(a.data() + valueAt, value.data(), value.size());
    return a;
}

std::vector<uint8_t> MakeNonResident(uint32_t type, const std::vector<uint8_t>& pairs, uint64_t firstVcn,
                                     uint64_t lastVcn, uint64_t realSize, uint64_t allocSize, uint16_t flags,
                                     const std::u16string& name)
{
    const size_t nameAt = 64;
    const size_t pairsAt = (nameAt + name.size() * 2 + 7) & ~size_t(7);
    const size_t length = (pairsAt + pairs.size() + 7) & ~size_t(7);
    std::vector<uint8_t> a(length, 0);
    Put32(a, 0, type);
    Put32(a, 4, static_cast<uint32_t>(length));
    a[8] = 1;
    a[9] = static_cast<uint8_t>(name.size());
    Put16(a, 10, static_cast<uint16_t>(nameAt));
    Put16(a, 12, flags);
    Put64(a, 16, firstVcn);
    Put64(a, 24, lastVcn);
    Put16(a, 32, static_cast<uint16_t>(pairsAt));
    Put64(a, 40, allocSize);
    Put64(a, 48, realSize);
    Put64(a, 56, realSize);
    std::memcpy(a.data() + nameAt, name.data(), name.size() * 2);
    std::memcpy(a.data() + pairsAt, pairs.data(), pairs.size());
    return a;
}

std::vector<uint8_t> StandardInformation(uint64_t created, uint64_t modified, uint64_t accessed, uint32_t dos)
{
    std::vector<uint8_t> v(48, 0);
    Put64(v, 0, created);
    Put64(v, 8, modified);
    Put64(v, 16, modified);
    Put64(v, 24, accessed);
    Put32(v, 32, dos);
    return MakeResident(NTFS_ATTR_STANDARD_INFORMATION, v);
}

std::vector<uint8_t> FileName(uint64_t parent, const std::u16string& name, uint8_t nameSpace, uint64_t realSize,
                              uint64_t created, uint32_t flags)
{
    std::vector<uint8_t> v(66 + name.size() * 2, 0);
    Put64(v, 0, parent);
    Put64(v, 8, created);
    Put64(v, 16, created);
    Put64(v, 32, created);
    Put64(v, 40, realSize);
    Put64(v, 48, realSize);
    Put32(v, 56, flags);
    v[64] = static_cast<uint8_t>(name.size());
    v[65] = nameSpace;
    std::memcpy(v.data() + 66, name.data(), name.size() * 2);
    return MakeResident(NTFS_ATTR_FILE_NAME, v);
}

std::vector<uint8_t> MakeRecord(const RecordSpec& spec)
{
    std::vector<uint8_t> r(1024, 0);
    std::memcpy(r.data(), "FILE", 4);
    Put16(r, 4, 48);   // update sequence array
    Put16(r, 6, 3);    // number plus two strides
    Put16(r, 16, 1);   // sequence number
    Put16(r, 18, 1);   // links
    Put16(r, 20, 56);  // first attribute
    Put16(r, 22, spec.flags);
    Put32(r, 28, 1024);
    Put64(r, 32, spec.baseReference);
    Put32(r, 44, spec.number);
    Put16(r, 48, 0x0101);
    size_t at = 56;
    for (const auto& a : spec.attributes) {
        if (at + a.size() + 8 > 1024)
            break;
        std::memcpy(r.data() + at, a.data(), a.size());
        at += a.size();
    }
    Put32(r, at, 0xFFFFFFFFu);
    Put32(r, 24, static_cast<uint32_t>(at + 8));
    CNTFSFileRecord::FixupFileRecord(r.data(), 1024);
    return r;
}

CNtfsRecordingBuilder::~CNtfsRecordingBuilder()
{
    for (CNTFSFileNode* node : m_nodes)
        node->Release();
}

int CNtfsRecordingBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    if (m_refuse && m_refuse(node))
        return 0;
    auto* ntfs = dynamic_cast<CNTFSFileNode*>(node);
    if (!ntfs || type != SEARCHER_NTFS) {
        ADD_FAILURE() << "unexpected node type";
        return 0;
    }
    m_nodes.push_back(ntfs);
    m_events.push_back("node");
    return 1;
}

int CNtfsRecordingBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    m_events.push_back("info " + std::to_string(type) + " " + std::to_string(rootId));
    return 1;
}

int CNtfsRecordingBuilder::FlashBuild(_tagSearcherType type)
{
    m_events.push_back("flash " + std::to_string(type));
    return 1;
}

int CNtfsRecordingBuilder::SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*)
{
    m_events.push_back("partition");
    return 1;
}

std::string CNtfsRecordingBuilder::PathOf(CNTFSFileNode* node) const
{
    std::map<long long, CNTFSFileNode*> byId;
    for (CNTFSFileNode* n : m_nodes)
        byId[n->GetCurrentNodeID()] = n;
    std::string path;
    std::set<long long> seen;
    for (CNTFSFileNode* n = node; n;) {
        path = "/" + std::string(n->GetFileName() ? n->GetFileName() : "") + path;
        const long long parent = n->GetParentNodeID();
        if (parent == 5)
            return path;
        if (!seen.insert(parent).second || !byId.count(parent))
            return "?" + path;
        n = byId[parent];
    }
    return path;
}

std::map<std::string, CNTFSFileNode*> CNtfsRecordingBuilder::ByPath() const
{
    std::map<std::string, CNTFSFileNode*> out;
    for (CNTFSFileNode* n : m_nodes)
        out[PathOf(n)] = n;
    return out;
}

void CNtfsRecordingProgress::UpdateProgress(_PROGRESS_INFO* info)
{
    m_reports.push_back({info->dwState, info->u64Total, info->u64Done});
}

int CNtfsRecordingProgress::Continued()
{
    ++m_continuedCalls;
    return (m_stopAfter < 0 || m_continuedCalls <= m_stopAfter) ? 1 : 0;
}
