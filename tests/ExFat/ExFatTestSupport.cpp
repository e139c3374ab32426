#include "ExFatTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ExFatFileNode.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

const std::string kDataDir = std::string(VANTREL_SOURCE_DIR) + "/tests/data/exfat";
const std::string kFatScript = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/make_fat.sh";

// Makes the folder once per build folder (ctest runs every test in its own
// process) under a file lock, and again when its sources change.
std::string CachedFixtures()
{
    const std::string dir = EXFAT_FIXTURE_CACHE;
    std::string stamp;
    for (const char* name : {"ex-quick.img.xz", "ex-4k.img.xz", "ex-disk.img.xz", "ex-late.img.xz"})
        stamp += FileDigest(kDataDir + "/" + name) + " ";
    stamp += FileDigest(kFatScript);

    std::filesystem::create_directories(std::filesystem::path(dir).parent_path());
    const int lock = ::open((dir + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        ADD_FAILURE() << "cannot lock the exFAT fixture folder " << dir;
        return dir;
    }
    const std::string stampFile = dir + "/.stamp";
    if (ReadFileBytes(stampFile) != stamp) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir + "/fat");
        for (const char* name : {"ex-quick.img", "ex-4k.img", "ex-disk.img", "ex-late.img"})
            RunTool("xz -dc " + Quote(kDataDir + "/" + name + ".xz") + " > " + Quote(dir + "/" + name));
        RunTool("bash " + Quote(kFatScript) + " " + Quote(dir + "/fat") + " 2>&1");
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

long long ParseIstatTime(const std::string& text, const std::string& label)
{
    const size_t at = text.find(label + ":\t");
    if (at == std::string::npos)
        return -1;
    struct tm t {};
    if (!strptime(text.c_str() + at + label.size() + 2, "%Y-%m-%d %H:%M:%S", &t))
        return -1;
    return static_cast<long long>(timegm(&t));
}

}  // namespace

std::string ExFatImagePath(const std::string& name) { return FixtureDir() + "/" + name; }
std::string ExFatManifestPath(const std::string& name) { return kDataDir + "/" + name; }
std::string FatFixtureImagesDir() { return FixtureDir() + "/fat"; }

std::map<std::string, std::string> Manifest(const std::string& name)
{
    std::map<std::string, std::string> out;
    std::istringstream lines(ReadFileBytes(ExFatManifestPath(name)));
    std::string line;
    while (std::getline(lines, line))
        if (line.size() > 68)
            out[line.substr(68)] = line.substr(0, 64);
    return out;
}

std::string PutContent(const std::string& name, int lines)
{
    std::string out;
    char number[16];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(number, sizeof number, "%06d\n", i);
        out += name + " line " + number;
    }
    return out;
}

std::string TreeRootUnder(const std::string& out, const std::string& child)
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out))
        if (entry.path().filename() == child)
            return entry.path().parent_path().string();
    ADD_FAILURE() << "no " << child << " under " << out;
    return out;
}

void CopyFile(const std::string& from, const std::string& to)
{
    RunTool("cp --sparse=always " + Quote(from) + " " + Quote(to));
}

void WriteAt(const std::string& path, unsigned long long offset, const void* bytes, size_t size)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f) << path;
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    ASSERT_TRUE(f) << path;
}

std::vector<uint8_t> ReadAt(const std::string& path, unsigned long long offset, size_t size)
{
    std::vector<uint8_t> out(size);
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    EXPECT_TRUE(f) << "cannot read " << size << " bytes at " << offset << " of " << path;
    return out;
}

std::map<std::string, OracleEntry> FlsTree(const std::string& image)
{
    std::map<std::string, OracleEntry> out;
    std::istringstream lines(RunTool("fls -r -p " + Quote(image)));
    std::string line;
    while (std::getline(lines, line)) {
        // "r/r * 405:\tS.txt", "d/d 390:\tcontig"
        const size_t colon = line.find(":\t");
        const size_t space = line.rfind(' ', colon);
        if (colon == std::string::npos || space == std::string::npos)
            continue;
        const std::string path = line.substr(colon + 2);
        if (path.empty() || path[0] == '$' || line[0] == 'v' || line[0] == 'V' ||
            path.find("(Volume Label Entry)") != std::string::npos)
            continue;
        OracleEntry e;
        e.inode = std::stoll(line.substr(space + 1, colon - space - 1));
        e.deleted = line.find(" * ") != std::string::npos && line.find(" * ") < colon;
        e.directory = line[0] == 'd';
        out[path] = e;
    }
    return out;
}

IstatInfo Istat(const std::string& image, long long inode)
{
    const std::string text = RunTool("TZ=UTC istat " + Quote(image) + " " + std::to_string(inode));
    IstatInfo info;
    const size_t size = text.find("\nSize: ");
    if (size != std::string::npos)
        info.size = std::stoll(text.substr(size + 7));
    info.written = ParseIstatTime(text, "Written");
    info.accessed = ParseIstatTime(text, "Accessed");
    info.created = ParseIstatTime(text, "Created");
    const size_t at = text.find("Sectors:\n");
    if (at != std::string::npos) {
        std::istringstream numbers(text.substr(at + 9));
        long long s;
        while (numbers >> s)
            if (s != 0)
                info.sectors.push_back(s);
    }
    return info;
}

unsigned long long UnixToFileTime(long long seconds)
{
    return static_cast<unsigned long long>(seconds * 10000000LL + 116444736000000000LL);
}

long long FileTimeToUnix(unsigned long long fileTime)
{
    return static_cast<long long>(fileTime / 10000000ULL) - 11644473600LL;
}

Entry& Entry::U16(size_t at, unsigned int v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
    return *this;
}

Entry& Entry::U32(size_t at, uint32_t v)
{
    U16(at, v & 0xFFFF);
    return U16(at + 2, v >> 16);
}

Entry& Entry::U64(size_t at, uint64_t v)
{
    U32(at, static_cast<uint32_t>(v));
    return U32(at + 4, static_cast<uint32_t>(v >> 32));
}

Entry FileEntry(uint8_t secondaryCount, uint16_t attributes, bool inUse)
{
    // 2021-03-04 05:06:08: year 41, month 3, day 4; 5 h, 6 min, 4 x 2 s.
    const uint32_t stamp = (41u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;
    Entry e;
    e.Byte(0, inUse ? 0x85 : 0x05).Byte(1, secondaryCount).U16(4, attributes);
    e.U32(8, stamp).U32(12, stamp).U32(16, stamp);
    return e;
}

Entry StreamEntry(uint8_t nameLength, uint32_t firstCluster, uint64_t length, bool noFatChain, bool inUse)
{
    Entry e;
    e.Byte(0, inUse ? 0xC0 : 0x40).Byte(1, noFatChain ? 3 : 1).Byte(3, nameLength);
    e.U64(8, length).U32(20, firstCluster).U64(24, length);
    return e;
}

Entry NameEntry(const std::u16string& units, bool inUse)
{
    Entry e;
    e.Byte(0, inUse ? 0xC1 : 0x41);
    for (size_t i = 0; i < units.size() && i < 15; ++i)
        e.U16(2 + 2 * i, units[i]);
    return e;
}

uint16_t SetChecksumOf(const uint8_t* bytes, size_t length)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        if (i != 2 && i != 3)
            sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + bytes[i]);
    return sum;
}

std::vector<uint8_t> EntrySet(const std::u16string& name, uint32_t firstCluster, uint64_t length, bool inUse,
                              uint16_t attributes)
{
    const size_t names = (name.size() + 14) / 15;
    std::vector<Entry> entries;
    entries.push_back(FileEntry(static_cast<uint8_t>(1 + names), attributes, true));
    entries.push_back(StreamEntry(static_cast<uint8_t>(name.size()), firstCluster, length, true, true));
    for (size_t k = 0; k < names; ++k)
        entries.push_back(NameEntry(name.substr(k * 15, 15), true));
    std::vector<uint8_t> out;
    for (const Entry& e : entries)
        out.insert(out.end(), e.b, e.b + 32);
    const uint16_t sum = SetChecksumOf(out.data(), out.size());
    out[2] = static_cast<uint8_t>(sum);
    out[3] = static_cast<uint8_t>(sum >> 8);
    if (!inUse)
        for (size_t i = 0; i < out.size(); i += 32)
            out[i] &= 0x7F;
    return out;
}

CRecordingBuilder::~CRecordingBuilder()
{
    for (CExFatFileNode* node : m_nodes)
        node->Release();
}

int CRecordingBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    m_events.push_back("node");
    if (m_refuse && m_refuse(node))
        return 0;
    auto* exfat = dynamic_cast<CExFatFileNode*>(node);
    EXPECT_TRUE(exfat) << "not an exFAT node";
    if (!exfat)
        return 0;
    m_nodes.push_back(exfat);
    m_nodeTypes.push_back(type);
    return 1;
}

int CRecordingBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    m_events.push_back("info " + std::to_string(type) + " " + std::to_string(rootId));
    m_rootId = rootId;
    return 1;
}

int CRecordingBuilder::FlashBuild(_tagSearcherType type)
{
    m_events.push_back("flash " + std::to_string(type));
    return 1;
}

int CRecordingBuilder::SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device)
{
    m_events.push_back(std::string("partition ") + (partition ? "record" : "none") + (device ? " device" : ""));
    return 1;
}

std::string CRecordingBuilder::PathOf(CExFatFileNode* node) const
{
    std::map<long long, CExFatFileNode*> folders;
    for (CExFatFileNode* n : m_nodes)
        if (n->IsDirectory())
            folders[n->GetCurrentNodeID()] = n;
    std::string path = node->GetFileName();
    long long parent = node->GetParentNodeID();
    for (int depth = 0; parent != m_rootId && depth < 64; ++depth) {
        auto it = folders.find(parent);
        if (it == folders.end())
            return "?/" + path;
        path = std::string(it->second->GetFileName()) + "/" + path;
        parent = it->second->GetParentNodeID();
    }
    return path;
}

std::map<std::string, CExFatFileNode*> CRecordingBuilder::ByPath() const
{
    std::map<std::string, CExFatFileNode*> out;
    for (CExFatFileNode* n : m_nodes) {
        const std::string path = PathOf(n);
        EXPECT_EQ(out.count(path), 0u) << "two nodes at " << path;
        out[path] = n;
    }
    return out;
}

void CRecordingProgress::UpdateProgress(_PROGRESS_INFO* info)
{
    m_reports.push_back({info->dwState, info->u64Total, info->u64Done});
}

int CRecordingProgress::Continued()
{
    ++m_continuedCalls;
    return (m_stopAfter < 0 || m_continuedCalls <= m_stopAfter) ? 1 : 0;
}
