#include "DataRecovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <typeinfo>

#include "BridgeUtil.h"
#include "CompressFileReader.h"
#include "FileReader.h"
#include "IProgress.h"
#include "IRestoreSource.h"
#include "ISearcher.h"
#include "InvokingUser.h"
#include "Log.h"

namespace {

constexpr int kInitialPartitionRoom = 256;
constexpr int kMaxPartitions = 1 << 16;
// Without a sink nobody can free space on a full destination: a chunk is
// tried this often, then the copy ends.
constexpr int kWriteAttemptsWithoutSink = 3;
// Chunks in a row that give no data before a copy gives up on the rest.
constexpr int kMaxFailedReadsInARow = 16;
constexpr int kMaxAncestorSteps = 1025;
constexpr int kThumbnailLookAhead = 2001;

bool WriteAt(int fd, const char* data, long long n, long long offset)
{
    long long done = 0;
    while (done < n) {
        ssize_t w = pwrite(fd, data + done, static_cast<size_t>(n - done), offset + done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

// The destination, emptied. A file that is empty already (the name the path
// maker reserved) is not truncated: ext4 writes a file truncated to nothing
// back to the disk as soon as it is closed, and the copy would wait for that
// once per file.
int OpenDestination(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return fd;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size != 0 && ftruncate(fd, 0) != 0)) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    GiveToInvokingUser(fd);
    return fd;
}

// Ends the file at size; a file of that size already is left alone.
bool EndFileAt(int fd, long long size)
{
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size)
        return true;
    return ftruncate(fd, size) == 0;
}

void SetModificationTime(const char* path, long long seconds)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW);
}

long long NodeTimeToSeconds(unsigned long long fileTime)
{
    return fileTime ? convertWindowsTimeToUnixTime(U64ToFileTime(fileTime)) : 0;
}

double ScoreKey(const CSearchedPartitionInfo* p)
{
    double s = p->GetScore();
    return std::isnan(s) ? -INFINITY : s;
}

}  // namespace

bool PartitionInfoCompare(CSearchedPartitionInfo* a, CSearchedPartitionInfo* b)
{
    if (!a)
        return false;
    if (!b)
        return true;
    return ScoreKey(a) > ScoreKey(b);
}

IDataRecovery* CreateDataRecoveryObj() { return new (std::nothrow) CDataRecovery(); }

IDataRecovery* CreateDataRecoveryFor(IFileSystemSearchController* searcher, IRestoreSource* restore,
                                     _tagSearcherType type, IStorageDevice* device)
{
    auto* writer = new (std::nothrow) CDataRecovery();
    if (!writer)
        return nullptr;
    ResultCode rc;
    if (restore) {
        std::vector<CSearchedPartitionInfo*> saved = restore->GetSearchedPartition(type);
        rc = writer->Initialize(saved, device);
    } else {
        rc = writer->Initialize(searcher, device);
    }
    if (IsResultFailure(rc)) {
        writer->Release();
        return nullptr;
    }
    return writer;
}

CDataRecovery::~CDataRecovery()
{
    if (m_pReader)
        m_pReader->Release();
    DropPartitions();
}

void CDataRecovery::DropPartitions()
{
    for (CSearchedPartitionInfo* p : m_vecPartitions)
        delete p;
    m_vecPartitions.clear();
    m_dwCount = 0;
}

bool CDataRecovery::MakeBuffer()
{
    m_pBuffer = AllocateLargeBuffer(static_cast<size_t>(m_iChunkSize));
    return m_pBuffer != nullptr;
}

ResultCode CDataRecovery::Initialize(IFileSystemSearchController* searcher, IStorageDevice* device)
{
    autolocker<mutex_locker> lock(m_lock);
    if (!searcher || !device)
        return kErrSearcherArgument;
    DropPartitions();
    std::vector<CSearchedPartitionInfo*> list(kInitialPartitionRoom, nullptr);
    int count = searcher->GetSearchedPartitionInfo(list.data(), kInitialPartitionRoom);
    if (count <= 0)
        return kErrNoPartition;
    if (count > kInitialPartitionRoom) {
        for (CSearchedPartitionInfo* p : list)
            delete p;
        int room = std::min(count, kMaxPartitions);
        list.assign(static_cast<size_t>(room), nullptr);
        count = searcher->GetSearchedPartitionInfo(list.data(), room);
        if (count <= 0) {
            for (CSearchedPartitionInfo* p : list)
                delete p;
            return kErrNoPartitionOnRetry;
        }
        count = std::min(count, room);
    }
    m_pDevice = device;
    if (count >= 2)
        std::sort(list.begin(), list.end(), PartitionInfoCompare);
    // Records past the count were not handed over; nulls sorted last.
    for (size_t i = static_cast<size_t>(count); i < list.size(); ++i)
        delete list[i];
    list.resize(static_cast<size_t>(count));
    m_vecPartitions = std::move(list);
    m_dwCount = static_cast<unsigned int>(count);
    return 0;
}

ResultCode CDataRecovery::Initialize(std::vector<CSearchedPartitionInfo*>& partitions, IStorageDevice* device)
{
    autolocker<mutex_locker> lock(m_lock);
    if (!device)
        return kErrListArgument;
    DropPartitions();
    for (CSearchedPartitionInfo* p : partitions)
        if (p)
            m_vecPartitions.push_back(new CSearchedPartitionInfo(*p));  // the base part only
    m_dwCount = static_cast<unsigned int>(m_vecPartitions.size());
    m_pDevice = device;
    return 0;
}

bool CDataRecovery::IsMetaDataInRange(CSearchedPartitionInfo* partition, CFileNode* node)
{
    if (!partition || !node)
        return false;
    const long long start = partition->GetUnitBase();
    const long long meta = node->GetMetadataStartPosition();
    long long end;
    if (__builtin_add_overflow(start, static_cast<long long>(std::min<unsigned long long>(
                                          partition->GetTotalSectors(), LLONG_MAX)),
                               &end))
        end = LLONG_MAX;
    return start < meta && meta < end;
}

bool CDataRecovery::IsDataRunInRange(const DataRun& run, CSearchedPartitionInfo* partition)
{
    if (!partition)
        return false;
    const long long spu = partition->GetSectorsPerUnit();
    const long long start = partition->GetUnitBase();
    long long first, last, end;
    if (__builtin_mul_overflow(run.llStart, spu, &first) ||
        __builtin_add_overflow(run.llStart, run.llLength, &last) || __builtin_mul_overflow(last, spu, &last) ||
        __builtin_sub_overflow(last, 1LL, &last))
        return false;
    if (__builtin_add_overflow(start, static_cast<long long>(std::min<unsigned long long>(
                                          partition->GetTotalSectors(), LLONG_MAX)),
                               &end))
        end = LLONG_MAX;
    return first >= start && last <= end;
}

bool CDataRecovery::IsDataRunListInRange(CSearchedPartitionInfo* partition, CFileNode* node)
{
    if (!partition || !node)
        return false;
    IDataRunList* runs = node->GetDataRunList();
    if (!runs)
        return false;
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) {
        if (run->llStart < 0)
            continue;  // sparse: not on the disk at all
        if (!IsDataRunInRange(*run, partition))
            return false;
    }
    return true;
}

bool CDataRecovery::IsClusterSuit(unsigned int sectorsPerUnit, CFileNode* node)
{
    if (!node || sectorsPerUnit % 2 != 0)
        return false;
    IDataRunList* runs = node->GetDataRunList();
    if (!runs)
        return true;
    long long units = 0;
    bool any = false;
    for (DataRun* run = runs->GetFirst(); run; run = runs->GetNext()) {
        any = true;
        if (run->llLength > 0 && __builtin_add_overflow(units, run->llLength, &units))
            return false;
    }
    if (!any || units < 2)
        return true;
    // The unit size the node's bytes suggest, as a power of two of sectors.
    double perUnit = static_cast<double>(node->GetFileSize()) / static_cast<double>(units) / 512.0;
    double n = std::ceil(perUnit);
    unsigned long long expected = 0;
    if (n > 1) {
        for (unsigned long long p = 2; p <= (1ULL << 24); p <<= 1) {
            if (static_cast<double>(p / 2) < n && n <= static_cast<double>(p)) {
                expected = p;
                break;
            }
        }
    }
    return expected != 0 && expected == sectorsPerUnit;
}

CSearchedPartitionInfo* CDataRecovery::GetNodePartition(CFileNode* node)
{
    if (!node)
        return nullptr;
    if (m_dwCount <= 1 || m_vecPartitions.size() <= 1)
        return m_vecPartitions.empty() ? nullptr : m_vecPartitions.front();
    const size_t count = std::min<size_t>(m_dwCount, m_vecPartitions.size());
    const unsigned short index = node->GetBelongedPartition();
    for (size_t i = 0; i < count; ++i)
        if (m_vecPartitions[i] && m_vecPartitions[i]->GetPartitionIndex() == index)
            return m_vecPartitions[i];
    for (size_t i = 0; i < count; ++i) {
        CSearchedPartitionInfo* p = m_vecPartitions[i];
        if (p && IsMetaDataInRange(p, node) && IsDataRunListInRange(p, node) &&
            IsClusterSuit(p->GetSectorsPerUnit(), node))
            return p;
    }
    return m_vecPartitions.front();
}

IFileReader* CDataRecovery::SetRecoverNode(IFileNode* iNode)
{
    autolocker<mutex_locker> lock(m_lock);
    auto* node = dynamic_cast<CFileNode*>(iNode);
    if (!node || node->IsDirectory()) {
        CatchExeception::WriteLog("%s %d\r\n", "SetRecoverNode", __LINE__);
        return nullptr;
    }
    m_dwCompressedNtfs = 0;
    if (m_dwCount == 0) {
        CatchExeception::WriteLog("%s %d\r\n", "SetRecoverNode", __LINE__);
        return nullptr;
    }
    CSearchedPartitionInfo* partition = GetNodePartition(node);
    if (!partition) {
        CatchExeception::WriteLog("%s %d\r\n", "SetRecoverNode", __LINE__);
        return nullptr;
    }

    IFileReader* reader = nullptr;
    CFileReader* toOpen = nullptr;
    if (node->IsCompressed()) {
        reader = node->CreateCompressFileReader(partition->GetVolumeContext());
        if (reader && partition->GetFileSystemType() == FS_NTFS) {
            toOpen = dynamic_cast<CCompressFileReader*>(reader);
            if (toOpen) {
                m_dwCompressedNtfs = 1;
            } else {
                reader->Release();
                reader = nullptr;
            }
        }
    } else {
        toOpen = new CFileReader();
        reader = toOpen;
    }
    if (toOpen && !toOpen->Open(m_pDevice, node, partition)) {
        reader->Release();
        reader = nullptr;
        m_dwCompressedNtfs = 0;
        CatchExeception::WriteLog("%s %d\r\n", "SetRecoverNode", __LINE__);
    }

    if (m_pReader)
        m_pReader->Release();
    m_pReader = reader;
    if (!m_pReader) {
        CatchExeception::WriteLog("%s %d\r\n", "SetRecoverNode", __LINE__);
        return nullptr;
    }
    m_pNode = node;
    m_llCreationTime = NodeTimeToSeconds(node->GetCreationTime());
    return m_pReader->Clone();
}

void CDataRecovery::SetRecoveredTimes(const char* path)
{
    if (m_llCreationTime == 0 || !m_pNode)
        return;
    SetModificationTime(path, m_llCreationTime);
    // One folder of the path per ancestor, ending at the file-system root.
    std::string folder = path;
    IFileNode* ancestor = m_pNode->GetParent();
    for (int steps = 0; ancestor && steps < kMaxAncestorSteps; ++steps, ancestor = ancestor->GetParent()) {
        size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0)
            break;
        folder.resize(slash);
        long long seconds = NodeTimeToSeconds(ancestor->GetCreationTime());
        if (seconds != 0)
            SetModificationTime(folder.c_str(), seconds);
    }
}

ResultCode CDataRecovery::RecoverTo(const char* path, IProgress* progress, int size)
{
    autolocker<mutex_locker> lock(m_lock);
    _PROGRESS_INFO info{};
    info.dwState = PROGRESS_STATE_RUNNING;
    if (progress)
        progress->UpdateProgress(&info);
    if (!path) {
        CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
        return kErrNoPath;
    }
    if (!m_pReader) {
        int fd = OpenDestination(path);
        if (fd < 0) {
            CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
            return kErrCannotCreateEmpty;
        }
        close(fd);
        CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
        return kErrNoReader;
    }
    if (m_pReader->IsCompressFile() && m_dwCompressedNtfs) {
        if (size != 0) {
            CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
            return kErrSizeForCompressed;
        }
        bool fallback = false;
        auto* lznt1 = static_cast<CCompressFileReader*>(m_pReader);
        if (!lznt1->Recovery(path, progress, fallback)) {
            CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
            return kErrCompressedCopy;
        }
        if (!fallback && lznt1->EndedShort()) {
            CatchExeception::WriteLog("%s:%d [%s] %s\n", "RecoverTo", __LINE__, path,
                                      DescribeRecoveryResult(kErrPartExtentsEnd));
            return kErrPartExtentsEnd;
        }
        if (!fallback)
            return 0;
    }

    int fd = OpenDestination(path);
    if (fd < 0) {
        CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
        return kErrCannotOpenDestination;
    }
    if ((!m_pBuffer && !MakeBuffer())) {
        close(fd);
        return kErrCannotOpenDestination;
    }
    const long long dataSize = m_pReader->GetDataSize();
    const long long total = size > 0 ? size : dataSize;
    if (total <= 0) {
        close(fd);
        return kErrNoData;
    }

    // Nothing past the data is read (a preview may ask for more). A plain
    // reader knows how much of the file lies on the device: the copy ends
    // there, and the file is only partly recovered.
    long long end = dataSize > 0 ? std::min(total, dataSize) : total;
    ResultCode partly = 0;
    auto* plain = typeid(*m_pReader) == typeid(CFileReader) ? static_cast<CFileReader*>(m_pReader) : nullptr;
    if (plain) {
        bool deviceEnd = false;
        const long long held = plain->BytesOnDevice(&deviceEnd);
        if (held < end) {
            partly = deviceEnd ? kErrPartDeviceEnd : kErrPartExtentsEnd;
            CatchExeception::WriteLog("%s:%d [%s] %s: %lld of %lld bytes are on the device\n", "RecoverTo",
                                      __LINE__, path, DescribeRecoveryResult(partly), held, end);
            end = held;
        }
    }

    // Each distinct failure is logged once per file, however many chunks
    // it costs.
    std::set<std::string> logged;
    const auto logOnce = [&](int line, const char* what, const std::string& reason) {
        if (logged.insert(std::string(what) + reason).second)
            CatchExeception::WriteLog("%s:%d %s[%s] failed with %s\n", "RecoverTo", line, what, path,
                                      reason.c_str());
    };

    bool incomplete = false;  // a chunk whose write has not gone through
    bool finished = false;
    bool readFailed = false;
    int failedReads = 0;  // in a row
    int attempts = 0;
    long long done = 0;
    long long dataEnd = 0;  // end of the last data written
    while (true) {
        if (done >= end) {
            finished = true;
            break;
        }
        if (progress && !progress->Continued())
            break;
        const long long chunk = std::min<long long>(end - done, m_iChunkSize);
        errno = 0;
        int got = m_pReader->ReadData(done, Buffer(), static_cast<unsigned int>(chunk), nullptr);
        const int readErrno = errno;
        long long counted = chunk;
        bool stop = false;
        if (got < chunk) {
            // A hole of zeros stays in the file; the copy goes on, for a
            // while: a reader that gives nothing run after run has nothing.
            readFailed = true;
            logOnce(__LINE__, "read", readErrno ? std::strerror(readErrno) : std::string("no data"));
            stop = ++failedReads >= kMaxFailedReadsInARow;
        } else {
            failedReads = 0;
        }
        if (got > 0 && !WriteAt(fd, Buffer(), std::min<long long>(got, chunk), done)) {
            logOnce(__LINE__, "write", std::strerror(errno));
            info.u64Result = kErrWriteIncomplete;
            incomplete = true;
            counted = 0;  // the same chunk is tried again
            stop = !progress && ++attempts >= kWriteAttemptsWithoutSink;
        } else if (got > 0) {
            incomplete = false;
            attempts = 0;
            info.u64Result = 0;
            dataEnd = done + std::min<long long>(got, chunk);
        }
        done += counted;
        info.u64Total = static_cast<uint64_t>(total);
        info.u64Done = static_cast<uint64_t>(done);
        if (progress)
            progress->UpdateProgress(&info);
        if (stop)
            break;
    }
    // Only what was read is written: the file ends with its last data, so
    // an unreadable tail is not made up of zeros and nothing else is kept.
    if (finished && !EndFileAt(fd, dataEnd))
        incomplete = true;
    if (close(fd) != 0)
        incomplete = true;

    SetRecoveredTimes(path);
    if (incomplete) {
        CatchExeception::WriteLog("%s %d\r\n", "RecoverTo", __LINE__);
        return kErrWriteIncomplete;
    }
    if (!partly && readFailed)
        partly = failedReads >= kMaxFailedReadsInARow ? kErrPartReadsStopped : kErrPartUnreadable;
    if (partly)
        CatchExeception::WriteLog("%s:%d [%s] %s\n", "RecoverTo", __LINE__, path, DescribeRecoveryResult(partly));
    return partly;
}

const char* DescribeRecoveryResult(ResultCode rc)
{
    switch (rc) {
    case 0:
        return "recovered";
    case CDataRecovery::kErrPartDeviceEnd:
        return "the file is larger than what holds it; the copy ends where the device ends";
    case CDataRecovery::kErrPartExtentsEnd:
        return "the file is larger than what holds it; the copy ends where its known extents end";
    case CDataRecovery::kErrPartUnreadable:
        return "some of its data could not be read and is left as zeros";
    case CDataRecovery::kErrPartReadsStopped:
        return "its data could not be read; the copy stopped after many failed reads";
    case CDataRecovery::kErrWriteIncomplete:
        return "a write to the destination did not complete";
    default:
        return "not recovered";
    }
}

int CDataRecovery::ReadSmallJPG(char* buffer, unsigned int size)
{
    autolocker<mutex_locker> lock(m_lock);
    if (!buffer || size == 0 || !m_pReader || m_pReader->GetDataSize() < kThumbnailWindow ||
        size < static_cast<unsigned int>(kThumbnailWindow))
        return 0;
    if (!m_pBuffer && !MakeBuffer())
        return 0;
    char* data = Buffer();
    if (m_dwCompressedNtfs) {
        auto* lznt1 = static_cast<CCompressFileReader*>(m_pReader);
        if (!lznt1->Recovery(data, kThumbnailWindow, nullptr))
            return 0;
    } else if (m_pReader->ReadData(0, data, kThumbnailWindow, nullptr) <= 0) {
        return 0;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    // The file's own leading image marker (positions 0-3) is never taken.
    int start = -1;
    int end = -1;
    for (int i = 4; i <= kThumbnailWindow - 5; ++i) {
        if (start < 0) {
            if (b[i] == 0xFF && b[i + 1] == 0xD8 && b[i + 2] == 0xFF) {
                start = i;
                i += kThumbnailLookAhead - 1;
            }
        } else if (b[i] == 0xFF && b[i + 1] == 0xD9) {
            end = i + 4;
            break;
        }
    }
    if (start < 0 || end < 0)
        return 0;
    int length = end - start;
    if (length < 1 || length > kThumbnailWindow - 1)
        return 0;
    std::memcpy(buffer, data + start, static_cast<size_t>(length));
    return length;
}
