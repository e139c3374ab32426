// Data-recovery writer: partition choice, copies, times, thumbnails, a full
// destination and the owner of what it writes.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "BridgeUtil.h"
#include "DataRecovery.h"
#include "IRestoreSource.h"
#include "ISearcher.h"
#include "ImageFileDevice.h"
#include "NtfsImage.h"
#include "RecoveryTestSupport.h"
#include "StampedImage.h"
#include "StampedMemoryDevice.h"

namespace {

// 100-ns units since 1601 of a time in seconds since 1970.
unsigned long long FileTime(long long seconds) { return (seconds + 11644473600LL) * 10000000ULL; }

long long ModifiedAt(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return -1;
    return st.st_mtim.tv_sec;
}

long long SizeOf(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// A searcher that hands out copies of its records.
class RecordSearcher : public IFileSystemSearchController {
public:
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder*) override { return 1; }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override
    {
        ++asked;
        int n = static_cast<int>(scores.size());
        for (int i = 0; i < n && i < capacity; ++i) {
            if (scores[i] < 0)
                continue;  // leaves the slot null
            auto* p = new CSearchedPartitionInfo();
            p->SetScore(scores[i]);
            p->SetPartitionIndex(static_cast<unsigned short>(i));
            p->SetSectorsPerUnit(1);
            list[i] = p;
        }
        return n;
    }
    std::vector<double> scores;
    int asked = 0;
};

TEST(writer_initialize, TakesTheSearchersRecordsBestFirst)
{
    CStampedMemoryDevice device(100);
    RecordSearcher searcher;
    CDataRecovery writer;
    EXPECT_EQ(writer.Initialize(nullptr, &device), CDataRecovery::kErrSearcherArgument);
    EXPECT_EQ(writer.Initialize(&searcher, nullptr), CDataRecovery::kErrSearcherArgument);
    EXPECT_EQ(writer.Initialize(&searcher, &device), CDataRecovery::kErrNoPartition);

    searcher.scores = {1, 5, -1, 3};
    ASSERT_EQ(writer.Initialize(&searcher, &device), 0u);
    std::vector<CSearchedPartitionInfo*>& list = writer.GetSearchedPartition();
    ASSERT_EQ(writer.GetSearchedPartitionCount(), 4u);
    EXPECT_EQ(list[0]->GetScore(), 5);
    EXPECT_EQ(list[1]->GetScore(), 3);
    EXPECT_EQ(list[2]->GetScore(), 1);
    EXPECT_EQ(list[3], nullptr);

    // More than 256 records: asked again with room for all.
    RecordSearcher many;
    many.scores.assign(300, 2.0);
    many.scores[299] = 9;
    CDataRecovery writer2;
    ASSERT_EQ(writer2.Initialize(&many, &device), 0u);
    EXPECT_EQ(many.asked, 2);
    EXPECT_EQ(writer2.GetSearchedPartitionCount(), 300u);
    EXPECT_EQ(writer2.GetSearchedPartition()[0]->GetPartitionIndex(), 299);
}

class DerivedRecord : public CSearchedPartitionInfo {
public:
    int GetType() const override { return 9; }
};

TEST(writer_initialize, ListFormCopiesTheBaseRecordsInOrder)
{
    CStampedMemoryDevice device(100);
    DerivedRecord a;
    a.SetScore(1);
    CSearchedPartitionInfo b;
    b.SetScore(7);
    std::vector<CSearchedPartitionInfo*> given = {&a, &b};
    CDataRecovery writer;
    EXPECT_EQ(writer.Initialize(given, nullptr), CDataRecovery::kErrListArgument);
    ASSERT_EQ(writer.Initialize(given, &device), 0u);
    ASSERT_EQ(writer.GetSearchedPartitionCount(), 2u);
    EXPECT_EQ(writer.GetSearchedPartition()[0]->GetType(), 4);
    EXPECT_EQ(writer.GetSearchedPartition()[0]->GetScore(), 1);
    EXPECT_NE(writer.GetSearchedPartition()[0], &a);
}

// A loaded scan result with records of one searcher type.
class SavedResult : public IRestoreSource {
public:
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder*, IProgress*, IStorageDevice*) override { return 0; }
    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int type) override
    {
        return type == SEARCHER_FAT ? records : none;
    }
    std::vector<CSearchedPartitionInfo*> records, none;
};

TEST(writer_initialize, ControllersGetWritersOfTheSearcherOrTheLoadedResult)
{
    CStampedMemoryDevice device(100);
    RecordSearcher searcher;
    searcher.scores = {1, 4};
    IDataRecovery* fromSearcher = CreateDataRecoveryFor(&searcher, nullptr, SEARCHER_FAT, &device);
    ASSERT_NE(fromSearcher, nullptr);
    EXPECT_EQ(static_cast<CDataRecovery*>(fromSearcher)->GetSearchedPartition()[0]->GetScore(), 4);
    fromSearcher->Release();
    RecordSearcher empty;
    EXPECT_EQ(CreateDataRecoveryFor(&empty, nullptr, SEARCHER_FAT, &device), nullptr);

    // A loaded result's records are copied, the searcher is not asked.
    CSearchedPartitionInfo saved;
    saved.SetScore(2);
    SavedResult result;
    result.records = {&saved};
    IDataRecovery* fromResult = CreateDataRecoveryFor(&empty, &result, SEARCHER_FAT, &device);
    ASSERT_NE(fromResult, nullptr);
    auto* writer = static_cast<CDataRecovery*>(fromResult);
    ASSERT_EQ(writer->GetSearchedPartitionCount(), 1u);
    EXPECT_NE(writer->GetSearchedPartition()[0], &saved);
    EXPECT_EQ(writer->GetSearchedPartition()[0]->GetScore(), 2);
    EXPECT_EQ(empty.asked, 1);
    fromResult->Release();
}

TEST(writer_partition, ChoosesTheRecordThatOwnsTheNode)
{
    CStampedMemoryDevice device(200000);
    // The first record lies elsewhere; the second is the node's volume,
    // unit base 10,000, 100,000 sectors, 4 KiB units.
    CSearchedPartitionInfo first = MakePartition(8, 0);
    first.SetTotalSectors(1000);
    first.SetPartitionIndex(0);
    CSearchedPartitionInfo owner = MakePartition(8, 10000);
    owner.SetTotalSectors(100000);
    owner.SetPartitionIndex(1);
    std::vector<CSearchedPartitionInfo*> given = {&first, &owner};
    CDataRecovery writer;
    ASSERT_EQ(writer.Initialize(given, &device), 0u);
    CSearchedPartitionInfo* p0 = writer.GetSearchedPartition()[0];
    CSearchedPartitionInfo* p1 = writer.GetSearchedPartition()[1];

    struct Case {
        const char* what;
        unsigned short index;
        long long metadata;
        long long size;
        long long runStart;
        CSearchedPartitionInfo* expected;
    } cases[] = {
        {"index match", 1, -1, 100, 0, p1},
        {"all three tests pass", 0xFFFF, 10050, 40960, 1300, p1},
        {"metadata outside", 0xFFFF, 500, 40960, 1300, p0},
        {"runs outside", 0xFFFF, 10050, 40960, 100, p0},
        {"unit size differs", 0xFFFF, 10050, 20480, 1300, p0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunNode node("n.bin", c.size, {{c.runStart, 5}, {c.runStart + 100, 5}});
        node.SetBelongedPartition(c.index);
        node.SetMetaDataSector(c.metadata);
        EXPECT_EQ(writer.GetNodePartition(&node), c.expected);
    }
    EXPECT_EQ(writer.GetNodePartition(nullptr), nullptr);

    // One record serves every node.
    std::vector<CSearchedPartitionInfo*> one = {&first};
    CDataRecovery single;
    ASSERT_EQ(single.Initialize(one, &device), 0u);
    RunNode node("n.bin", 40960, {{1300, 10}});
    node.SetBelongedPartition(1);
    EXPECT_EQ(single.GetNodePartition(&node), single.GetSearchedPartition()[0]);
}

// ---- copies -------------------------------------------------------------------

class writer_copy : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = std::make_unique<CStampedMemoryDevice>(100000);
        part = MakePartition(8, 0);
        std::vector<CSearchedPartitionInfo*> given = {&part};
        ASSERT_EQ(writer.Initialize(given, device.get()), 0u);
    }
    // Sets the node and releases the reader copy.
    bool Choose(IFileNode* node)
    {
        IFileReader* copy = writer.SetRecoverNode(node);
        if (copy)
            copy->Release();
        return copy != nullptr;
    }
    // Copies the node to a path built below dest as the recovery job does;
    // the path, or "" when a step failed.
    std::string RecoverAsTheJobDoes(IFileNode* node)
    {
        char* built = CreateRecoveryFilePathByNode(node, dest.c_str(), &index);
        if (!built)
            return "";
        std::string path(built);
        free(built);
        if (!Choose(node) || writer.RecoverTo(path.c_str(), nullptr, 0) != 0)
            return "";
        return path;
    }
    std::unique_ptr<CStampedMemoryDevice> device;
    CSearchedPartitionInfo part;
    CDataRecovery writer;
    TempDir out;
    std::string dest = out.path() + "/";
    CCreateDirIndexMap index;
};

TEST_F(writer_copy, FoldersAndEmptyFiles)
{
    TestNode folder("DCIM", 5, true);
    EXPECT_FALSE(Choose(&folder));
    RunNode empty("empty.txt", 0, {{10, 1}});
    EXPECT_FALSE(Choose(&empty));
    std::string path = out / "empty.txt";
    EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 0), CDataRecovery::kErrNoReader);
    EXPECT_EQ(SizeOf(path), 0);
    EXPECT_EQ(writer.RecoverTo(nullptr, nullptr, 0), CDataRecovery::kErrNoPath);
}

TEST_F(writer_copy, FilesLargerThanTheDeviceEndWhereTheDeviceDoes)
{
    struct Case {
        const char* what;
        long long size;
        std::vector<std::pair<long long, long long>> runs;
        long long held;  // bytes of the file on the device
        ResultCode expected = CDataRecovery::kErrPartDeviceEnd;
    };
    const Case cases[] = {
        // 4 MiB readable, then two clusters past the end of the device.
        {"tail past the end", (4 << 20) + 8192 - 100, {{10, 1024}, {1000000, 2}}, 4 << 20},
        // A cluster that reaches over the end: its part on the device counts.
        {"cluster over the end", 3 * 4096, {{12499, 3}}, 4096},
        // A size no disk holds (a damaged record), two clusters of data.
        {"absurd size", 0x7FFFFFFFFFFFFFFFLL, {{10, 2}}, 8192, CDataRecovery::kErrPartExtentsEnd},
        {"absurd run", 1LL << 40, {{10, 1LL << 40}}, (100000 - 80) * 512LL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunNode node("tail.bin", c.size);
        auto* list = new CDataRunList();
        for (auto [start, length] : c.runs) {
            DataRun r;
            r.llStart = start;
            r.llLength = length;
            list->AddDataRun(&r);
        }
        node.SetDataRunList(list);
        ASSERT_TRUE(Choose(&node));
        std::string path = out / "tail.bin";
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 0), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.find("failed with"), std::string::npos) << log;
        EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 2) << log;
        std::string got = ReadFileBytes(path);
        ASSERT_EQ(static_cast<long long>(got.size()), c.held);
        std::vector<unsigned char> head = StampedFileBytes(c.runs, 8, 0, c.held);
        EXPECT_EQ(std::memcmp(got.data(), head.data(), head.size()), 0);
    }
    for (ResultCode rc : {CDataRecovery::kErrPartDeviceEnd, CDataRecovery::kErrPartExtentsEnd})
        EXPECT_NE(std::string(DescribeRecoveryResult(rc)).find("larger than what holds it"), std::string::npos);
}

namespace {

// Gives chunk-sized reads of 0x5A except from chunk failFrom on (up to
// failTo, exclusive) where it gives nothing; the errno it leaves is the
// caller's.
class CFlakyReader : public IFileReader {
public:
    CFlakyReader(long long size, long long failFrom, long long failTo, int* reads)
        : m_size(size), m_failFrom(failFrom), m_failTo(failTo), m_pReads(reads)
    {
    }
    int ReadData(long long offset, char* buffer, unsigned int size, int*) override
    {
        ++*m_pReads;
        const long long index = offset / CDataRecovery::kChunkSize;
        if (index >= m_failFrom && index < m_failTo)
            return 0;
        std::memset(buffer, 0x5A, size);
        return static_cast<int>(size);
    }
    IFileReader* Clone() override { return nullptr; }
    long long GetDataSize() const override { return m_size; }
    int IsCompressFile() override { return 1; }
    void Release() override { delete this; }

private:
    long long m_size, m_failFrom, m_failTo;
    int* m_pReads;
};

class FlakyNode : public RunNode {
public:
    FlakyNode(long long size, long long failFrom, long long failTo)
        : RunNode("flaky.bin", size, {{10, 1}}), m_failFrom(failFrom), m_failTo(failTo)
    {
        SetCompressed(true);
    }
    IFileReader* CreateCompressFileReader(void*) override
    {
        return new CFlakyReader(GetFileSize(), m_failFrom, m_failTo, &reads);
    }
    int reads = 0;

private:
    long long m_failFrom, m_failTo;
};

}  // namespace

// Reads that fail leave holes and make the file incomplete; a reader that
// gives nothing run after run ends the copy. One log line per distinct
// failure, never an errno the reads did not set.
TEST_F(writer_copy, FailedReadsMakeTheFileIncompleteAndEndAfterARun)
{
    constexpr long long kChunk = CDataRecovery::kChunkSize;
    struct Case {
        const char* what;
        long long size, failFrom, failTo;
        ResultCode expected;
        int reads;
        long long length;  // of the recovered file
    };
    const Case cases[] = {
        {"one hole", 5 * kChunk, 2, 3, CDataRecovery::kErrPartUnreadable, 5, 5 * kChunk},
        {"nothing ever", 0x7FFFFFFFFFFFFFFFLL, 0, LLONG_MAX, CDataRecovery::kErrPartReadsStopped, 16, 0},
        {"nothing after a chunk", 1LL << 50, 1, LLONG_MAX, CDataRecovery::kErrPartReadsStopped, 17, kChunk},
        {"all there", 2 * kChunk + 7, 9, 9, 0, 3, 2 * kChunk + 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlakyNode node(c.size, c.failFrom, c.failTo);
        ASSERT_FALSE(Choose(&node));  // no copy of this reader, but it is set
        std::string path = out / "flaky.bin";
        testing::internal::CaptureStdout();
        errno = EEXIST;
        EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 0), c.expected);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(node.reads, c.reads);
        EXPECT_EQ(SizeOf(path), c.length);
        EXPECT_EQ(log.find("File exists"), std::string::npos) << log;
        const auto lines = std::count(log.begin(), log.end(), '\n');
        EXPECT_LE(lines, c.expected ? 2 : 0) << log;
        if (c.expected) {
            EXPECT_NE(log.find("read[" + path + "] failed with no data"), std::string::npos) << log;
        }
        // The hole is zeros, the data around it is the reader's.
        const std::string got = ReadFileBytes(path);
        for (long long at = 0; at < static_cast<long long>(got.size()); at += kChunk) {
            const bool hole = at / kChunk >= c.failFrom && at / kChunk < c.failTo;
            const size_t n = static_cast<size_t>(std::min<long long>(kChunk, got.size() - at));
            EXPECT_TRUE(AllBytesAre(got.data() + at, n, hole ? 0 : 0x5A)) << at;
        }
    }
}

TEST_F(writer_copy, APreviewLongerThanTheFileKeepsOnlyTheFile)
{
    RunNode big("big.bin", 4 << 20, {{10, 1024}});
    ASSERT_TRUE(Choose(&big));
    std::string bigPath = out / "big.bin";
    ASSERT_EQ(writer.RecoverTo(bigPath.c_str(), nullptr, 0), 0u);

    RunNode small("small.bin", 1000, {{5000, 1}});
    ASSERT_TRUE(Choose(&small));
    std::string path = out / "small.bin";
    ASSERT_EQ(writer.RecoverTo(path.c_str(), nullptr, 2 << 20), 0u);
    std::string got = ReadFileBytes(path);
    ASSERT_EQ(got.size(), 1000u);
    std::vector<unsigned char> expected = StampedFileBytes({{5000, 1}}, 8, 0, 1000);
    EXPECT_EQ(std::memcmp(got.data(), expected.data(), 1000), 0);
}

TEST_F(writer_copy, FileAndFoldersTakeTheNodesCreationTimes)
{
    const long long fileTime = 1400000000, folderTime = 1300000000;
    CFilesystemNode root("CARD(FAT/FAT32)", "CARD", SEARCHER_FAT, 0);
    TestNode dcim("DCIM", 2, true);
    dcim.m_created = FileTime(folderTime);
    TestNode sub("100CANON", 3, true);  // creation time 0: left alone
    RunNode photo("a.jpg", 5000, {{20, 2}});
    photo.m_created = FileTime(fileTime) + 1234567;  // the fraction is dropped
    RunNode undated("b.jpg", 5000, {{30, 2}});
    ASSERT_EQ(root.AddChild(&dcim), 1);
    ASSERT_EQ(dcim.AddChild(&sub), 1);
    ASSERT_EQ(sub.AddChild(&photo), 1);
    ASSERT_EQ(sub.AddChild(&undated), 1);

    std::string path = RecoverAsTheJobDoes(&photo);
    EXPECT_EQ(path, dest + "Fat_0001/CARD/DCIM/100CANON/a.jpg");
    EXPECT_EQ(ModifiedAt(path), fileTime);
    EXPECT_EQ(ModifiedAt(dest + "Fat_0001/CARD/DCIM"), folderTime);
    EXPECT_GT(ModifiedAt(dest + "Fat_0001/CARD/DCIM/100CANON"), fileTime);

    long long before = time(nullptr);
    path = RecoverAsTheJobDoes(&undated);
    ASSERT_NE(path, "");
    EXPECT_GE(ModifiedAt(path), before - 1);

    sub.RemoveChild(&undated);
    sub.RemoveChild(&photo);
    dcim.RemoveChild(&sub);
    root.RemoveChild(&dcim);
}

// Answers Continued() 0 once it has seen a report of a failed write.
class StopOnWriteFailure : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if ((info->u64Result & 0xFFFFFFFFu) == 0xD03)
            sawFailure = true;
    }
    int Continued() override { return sawFailure ? 0 : 1; }
    int shouldBuild() override { return 1; }
    bool sawFailure = false;
};

// Runs body in a child whose files may not grow past 1 MiB; the child's
// exit status is body's result. Fails when the child takes over 20 s.
int InFullDestinationChild(const std::function<int()>& body)
{
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(body());
    }
    if (child < 0)
        return -1;
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ADD_FAILURE() << "the copy onto a full destination did not end";
    return -1;
}

TEST_F(writer_copy, AFullDestinationEndsTheCopyWithTheWriteCode)
{
    RunNode node("three.bin", 3 << 20, {{10, 768}});
    ASSERT_TRUE(Choose(&node));
    std::string path = out / "three.bin";
    int withoutSink = InFullDestinationChild([&] {
        return writer.RecoverTo(path.c_str(), nullptr, 0) == CDataRecovery::kErrWriteIncomplete ? 0 : 1;
    });
    EXPECT_EQ(withoutSink, 0);
    int withSink = InFullDestinationChild([&] {
        StopOnWriteFailure sink;
        ResultCode rc = writer.RecoverTo(path.c_str(), &sink, 0);
        return rc == CDataRecovery::kErrWriteIncomplete && sink.sawFailure ? 0 : 1;
    });
    EXPECT_EQ(withSink, 0);
    EXPECT_EQ(CDataRecovery::kErrWriteIncomplete, 0x10d015f00000d03ULL);
}

TEST_F(writer_copy, FilesAndFoldersGoToTheInvokingUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    struct EnvGuard {
        std::optional<std::string> pkexec, sudo, gid;
        static std::optional<std::string> Get(const char* n)
        {
            const char* v = std::getenv(n);
            return v ? std::optional<std::string>(v) : std::nullopt;
        }
        static void Put(const char* n, const std::optional<std::string>& v)
        {
            if (v)
                setenv(n, v->c_str(), 1);
            else
                unsetenv(n);
        }
        EnvGuard() : pkexec(Get("PKEXEC_UID")), sudo(Get("SUDO_UID")), gid(Get("SUDO_GID")) {}
        ~EnvGuard()
        {
            Put("PKEXEC_UID", pkexec);
            Put("SUDO_UID", sudo);
            Put("SUDO_GID", gid);
        }
    } guard;
    unsetenv("PKEXEC_UID");
    unsetenv("SUDO_GID");
    setenv("SUDO_UID", "65534", 1);

    CFilesystemNode root("CARD(FAT/FAT32)", "CARD", SEARCHER_FAT, 0);
    TestNode dcim("DCIM", 2, true);
    RunNode photo("a.jpg", 5000, {{20, 2}});
    ASSERT_EQ(root.AddChild(&dcim), 1);
    ASSERT_EQ(dcim.AddChild(&photo), 1);
    std::string path = RecoverAsTheJobDoes(&photo);
    ASSERT_NE(path, "");
    for (std::string p : {path, dest + "Fat_0001/CARD/DCIM", dest + "Fat_0001/CARD", dest + "Fat_0001"}) {
        struct stat st {};
        ASSERT_EQ(lstat(p.c_str(), &st), 0) << p;
        EXPECT_EQ(st.st_uid, 65534u) << p;
    }
    dcim.RemoveChild(&photo);
    root.RemoveChild(&dcim);
}

// ---- thumbnails ---------------------------------------------------------------

class writer_thumbnail : public ::testing::Test {
protected:
    // A file of `size` bytes starting FF D8 FF E1, zeros, and `embedded`
    // at offset 3,000; written as an image and chosen in the writer.
    void MakeFile(long long size, const std::string& embedded)
    {
        std::string data(static_cast<size_t>(size), '\0');
        data[0] = '\xFF';
        data[1] = '\xD8';
        data[2] = '\xFF';
        data[3] = '\xE1';
        data.replace(3000, embedded.size(), embedded);
        data.resize(static_cast<size_t>((size + 511) / 512 * 512));
        std::string image = dir / "thumb.img";
        std::ofstream(image, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        device = OpenImageFileDisk(image, 512);
        ASSERT_TRUE(device);
        part = MakePartition(1, 0);
        std::vector<CSearchedPartitionInfo*> given = {&part};
        writer = std::make_unique<CDataRecovery>();
        ASSERT_EQ(writer->Initialize(given, device.get()), 0u);
        node = std::make_unique<RunNode>("photo.jpg", size);
        node->SetRuns({{0, static_cast<long long>(data.size() / 512)}});
        IFileReader* copy = writer->SetRecoverNode(node.get());
        ASSERT_NE(copy, nullptr);
        copy->Release();
    }
    TempDir dir;
    std::unique_ptr<CImageFileDevice> device;
    CSearchedPartitionInfo part;
    std::unique_ptr<CDataRecovery> writer;
    std::unique_ptr<RunNode> node;
};

TEST_F(writer_thumbnail, FindsTheEmbeddedImage)
{
    std::string thumb = dir / "thumb.jpg";
    RunTool("python3 -c \"import os,sys; sys.stdout.buffer.write(b'P6 96 72 255\\n'+os.urandom(96*72*3))\" | "
            "cjpeg -quality 90 > '" + thumb + "'");
    std::string jpeg = ReadFileBytes(thumb);
    ASSERT_GT(jpeg.size(), 2001u);
    ASSERT_LT(jpeg.size() + 3000, 65000u);
    MakeFile(70000, jpeg);
    std::vector<char> buffer(70000);
    int n = writer->ReadSmallJPG(buffer.data(), static_cast<unsigned int>(buffer.size()));
    // The image and the two bytes after its end marker.
    ASSERT_EQ(n, static_cast<int>(jpeg.size()) + 2);
    EXPECT_EQ(std::string(buffer.data(), jpeg.size()), jpeg);
    EXPECT_EQ(std::string(buffer.data() + jpeg.size(), 2), std::string(2, '\0'));
    // A buffer below 64 KiB gets nothing.
    EXPECT_EQ(writer->ReadSmallJPG(buffer.data(), 65535), 0);
}

TEST_F(writer_thumbnail, SmallFilesAndSmallImagesGiveNothing)
{
    std::string small = "\xFF\xD8\xFF\xE0";
    small += std::string(1492, 'a');
    small += "\xFF\xD9";
    ASSERT_EQ(small.size(), 1498u);
    MakeFile(65535, small);
    std::vector<char> buffer(70000);
    EXPECT_EQ(writer->ReadSmallJPG(buffer.data(), static_cast<unsigned int>(buffer.size())), 0);
    MakeFile(70000, small);
    EXPECT_EQ(writer->ReadSmallJPG(buffer.data(), static_cast<unsigned int>(buffer.size())), 0);
}

// ---- compressed NTFS files ------------------------------------------------------

TEST(writer_lznt1, CompressedFilesGoThroughTheLznt1Reader)
{
    NtfsImage* image = NtfsImage::Get();
    ASSERT_NE(image, nullptr);
    auto device = image->OpenDevice();
    CSearchedPartitionInfo part = image->Partition();
    std::vector<CSearchedPartitionInfo*> given = {&part};
    CDataRecovery writer;
    ASSERT_EQ(writer.Initialize(given, device.get()), 0u);
    auto node = image->MakeNode("mixed.bin");
    ASSERT_TRUE(node);
    IFileReader* copy = writer.SetRecoverNode(node.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(dynamic_cast<CCompressFileReader*>(copy), nullptr);
    copy->Release();
    TempDir out;
    std::string path = out / "mixed.bin";
    EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 4096), CDataRecovery::kErrSizeForCompressed);
    EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 0), 0u);
    EXPECT_TRUE(ReadFileBytes(path) == image->Oracle("mixed.bin"));

    // A size far beyond its extents (a damaged record): the file ends with
    // its data and is reported incomplete, not grown to the claim.
    auto huge = image->MakeNode("mixed.bin");
    huge->m_size = 1LL << 40;
    copy = writer.SetRecoverNode(huge.get());
    ASSERT_NE(copy, nullptr);
    copy->Release();
    EXPECT_EQ(writer.RecoverTo(path.c_str(), nullptr, 0), CDataRecovery::kErrPartExtentsEnd);
    ASSERT_LT(SizeOf(path), 1LL << 30);
    const std::string claimedMore = ReadFileBytes(path);
    EXPECT_GE(claimedMore.size(), image->Oracle("mixed.bin").size());
    EXPECT_TRUE(claimedMore.compare(0, image->Oracle("mixed.bin").size(), image->Oracle("mixed.bin")) == 0);

    // With 8 KiB clusters compressed units cannot be decoded: kind 1.
    CSearchedPartitionInfo big = MakePartition(16, 0, FS_NTFS);
    std::vector<CSearchedPartitionInfo*> bigList = {&big};
    CDataRecovery bigWriter;
    ASSERT_EQ(bigWriter.Initialize(bigList, device.get()), 0u);
    copy = bigWriter.SetRecoverNode(node.get());
    ASSERT_NE(copy, nullptr);
    copy->Release();
    EXPECT_EQ(bigWriter.RecoverTo(path.c_str(), nullptr, 0), CDataRecovery::kErrCompressedCopy);
}

}  // namespace
