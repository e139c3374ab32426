#include "FatTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string MakeFixtures()
{
    const std::string dir = FAT_FIXTURE_CACHE;
    const std::string script = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/make_fat.sh";
    const std::string helper = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/fat_set_lfn.py";
    const std::string clearHigh = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/fat32_clear_hi.py";
    const std::string stamp = FileDigest(script) + " " + FileDigest(helper) + " " + FileDigest(clearHigh);

    std::filesystem::create_directories(std::filesystem::path(dir).parent_path());
    int lock = ::open((dir + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        ADD_FAILURE() << "cannot lock the FAT fixture folder " << dir;
        return dir;
    }
    const std::string stampFile = dir + "/.stamp";
    if (ReadFileBytes(stampFile) != stamp) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        RunTool("bash " + Quote(script) + " " + Quote(dir));
        std::ofstream(stampFile) << stamp;
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return dir;
}

long long ParseIstatTime(const std::string& text, const std::string& label)
{
    size_t at = text.find(label + ":\t");
    if (at == std::string::npos)
        return -1;
    struct tm t {};
    if (!strptime(text.c_str() + at + label.size() + 2, "%Y-%m-%d %H:%M:%S", &t))
        return -1;
    return static_cast<long long>(timegm(&t));
}

}  // namespace

const std::string& FatFixtureDir()
{
    static const std::string dir = MakeFixtures();
    return dir;
}

std::string FatImagePath(const std::string& name) { return FatFixtureDir() + "/" + name; }

std::unique_ptr<CImageFileDevice> OpenFatImage(const std::string& name, unsigned int sectorSize)
{
    auto device = OpenImageFileDisk(name.find('/') == std::string::npos ? FatImagePath(name) : name, sectorSize);
    EXPECT_TRUE(device) << "cannot open " << name;
    return device;
}

void CopyImage(const std::string& from, const std::string& to)
{
    RunTool("cp --sparse=always " + Quote(from) + " " + Quote(to));
}

void PatchFile(const std::string& path, unsigned long long offset, const std::vector<uint8_t>& bytes)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f) << path;
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f) << path;
}

std::vector<uint8_t> Le16(unsigned int v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

std::vector<uint8_t> Le32(unsigned int v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> ReadImageSectors(const std::string& path, long long first, long long count,
                                      unsigned int sectorSize)
{
    std::vector<uint8_t> out(static_cast<size_t>(count) * sectorSize);
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(first) * sectorSize);
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    EXPECT_TRUE(f) << "cannot read sector " << first << " of " << path;
    return out;
}

std::map<std::string, long long> FlsInodes(const std::string& image)
{
    std::map<std::string, long long> out;
    std::istringstream lines(RunTool("fls -r -p " + Quote(image)));
    std::string line;
    while (std::getline(lines, line)) {
        size_t colon = line.find(":\t");
        size_t space = line.rfind(' ', colon);
        if (colon == std::string::npos || space == std::string::npos)
            continue;
        out[line.substr(colon + 2)] = std::stoll(line.substr(space + 1, colon - space - 1));
    }
    return out;
}

std::vector<long long> IstatSectors(const std::string& image, long long inode)
{
    std::string text = RunTool("istat " + Quote(image) + " " + std::to_string(inode));
    std::vector<long long> out;
    size_t at = text.find("Sectors:\n");
    if (at == std::string::npos)
        return out;
    std::istringstream numbers(text.substr(at + 9));
    long long s;
    while (numbers >> s)
        out.push_back(s);
    return out;
}

IstatTimes IstatTimesOf(const std::string& image, long long inode)
{
    std::string text = RunTool("TZ=UTC istat " + Quote(image) + " " + std::to_string(inode));
    IstatTimes t;
    t.written = ParseIstatTime(text, "Written");
    t.accessed = ParseIstatTime(text, "Accessed");
    t.created = ParseIstatTime(text, "Created");
    return t;
}

long long FsstatTotalSectors(const std::string& image)
{
    std::string text = RunTool("fsstat " + Quote(image));
    size_t at = text.find("Total Range: 0 - ");
    if (at == std::string::npos)
        return -1;
    return std::stoll(text.substr(at + 17)) + 1;
}

unsigned long long UnixToFileTime(long long seconds)
{
    return static_cast<unsigned long long>(seconds * 10000000LL + 116444736000000000LL);
}

EntryBuilder::EntryBuilder(const char* name11, uint8_t attr)
{
    std::memcpy(b, name11, 11);
    b[11] = attr;
}

EntryBuilder& EntryBuilder::Cluster(unsigned int c)
{
    Word(20, c >> 16);
    return Word(26, c & 0xFFFF);
}

EntryBuilder& EntryBuilder::Size(unsigned int s)
{
    std::vector<uint8_t> v = Le32(s);
    std::copy(v.begin(), v.end(), b + 28);
    return *this;
}

EntryBuilder& EntryBuilder::Word(size_t offset, unsigned int v)
{
    b[offset] = static_cast<uint8_t>(v);
    b[offset + 1] = static_cast<uint8_t>(v >> 8);
    return *this;
}

EntryBuilder& EntryBuilder::Byte(size_t offset, uint8_t v)
{
    b[offset] = v;
    return *this;
}

unsigned int Date(unsigned int year, unsigned int month, unsigned int day)
{
    return ((year - 1980) << 9) | (month << 5) | day;
}

unsigned int Time(unsigned int hour, unsigned int minute, unsigned int twoSeconds)
{
    return (hour << 11) | (minute << 5) | twoSeconds;
}

EntryBuilder LongNameEntry(uint8_t order, const std::u16string& units, uint8_t checksum)
{
    EntryBuilder e("\0\0\0\0\0\0\0\0\0\0\0", 0x0F);
    e.b[0] = order;
    e.b[13] = checksum;
    std::u16string u = units.substr(0, 13);
    if (u.size() < 13)
        u.push_back(0);
    while (u.size() < 13)
        u.push_back(0xFFFF);
    const size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i)
        e.Word(at[i], u[i]);
    return e;
}

std::vector<uint8_t> LongNameRun(const std::u16string& name, const EntryBuilder& shortEntry)
{
    const size_t pieces = (name.size() + 12) / 13;
    std::vector<uint8_t> out;
    for (size_t k = pieces; k >= 1; --k) {
        uint8_t order = static_cast<uint8_t>(k | (k == pieces ? 0x40 : 0));
        EntryBuilder e = LongNameEntry(order, name.substr((k - 1) * 13, 13));
        out.insert(out.end(), e.b, e.b + 32);
    }
    out.insert(out.end(), shortEntry.b, shortEntry.b + 32);
    return out;
}

int CBufferDevice::ReadSector(void* buffer, long long first, long long count)
{
    ++m_iReads;
    if (!buffer || first < 0 || count < 1 || first > GetTotalSectors() || count > GetTotalSectors() - first)
        return 0;
    std::memcpy(buffer, m_bytes.data() + static_cast<size_t>(first) * m_dwSectorSize,
                static_cast<size_t>(count) * m_dwSectorSize);
    return 1;
}
