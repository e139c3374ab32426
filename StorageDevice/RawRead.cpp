#include "RawRead.h"

#include <aio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>

#include "BridgeLocks.h"

namespace {

constexpr long long kChunkBytes = 0x400000;  // one deep-scan block per system request
constexpr int kMaxOrphans = 8;

std::atomic<long long> g_timeoutMs{30000};

// A request and the buffer it reads into stay together: a request the
// kernel would not cancel still completes into both, so neither may be
// reused until it has finished.
struct ReadSlot {
    aiocb cb{};
    LargeBuffer pBuffer;
    LargeBuffer pCallerBuffer;  // a caller's buffer the request reads into
};

ReadSlot* NewSlot()
{
    auto* slot = new (std::nothrow) ReadSlot;
    if (!slot)
        return nullptr;
    slot->pBuffer = AllocateLargeBuffer(kChunkBytes);
    if (!slot->pBuffer) {
        delete slot;
        return nullptr;
    }
    return slot;
}

void FreeSlot(ReadSlot* slot)
{
    delete slot;
}

struct RawReadState {
    mutex_locker lock;  // serialises every raw read of the process
    ReadSlot* pSlot = nullptr;
    ReadSlot* orphans[kMaxOrphans] = {};
    int iOrphans = 0;
};

RawReadState& State()
{
    // Never destroyed: reads may still run on other threads during exit.
    static auto* state = new RawReadState;
    return *state;
}

// Frees the timed-out requests that have finished since.
void ReapOrphans(RawReadState& st)
{
    for (int i = 0; i < st.iOrphans;) {
        ReadSlot* slot = st.orphans[i];
        if (aio_error(&slot->cb) == EINPROGRESS) {
            ++i;
            continue;
        }
        aio_return(&slot->cb);
        FreeSlot(slot);
        st.orphans[i] = st.orphans[--st.iOrphans];
        st.orphans[st.iOrphans] = nullptr;
    }
}

enum class WaitResult { Done, TimedOut };

WaitResult WaitForRequest(aiocb& cb)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    long long ms = g_timeoutMs.load();
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    const aiocb* list[1] = {&cb};
    while (aio_error(&cb) == EINPROGRESS) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long left = (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
        if (left <= 0)
            return WaitResult::TimedOut;
        timespec wait{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
        if (aio_suspend(list, 1, &wait) != 0 && errno != EAGAIN && errno != EINTR)
            return WaitResult::TimedOut;
    }
    return WaitResult::Done;
}

enum class ChunkResult { Read, Failed, Orphaned };

// Reads one chunk through the slot into dst: into the slot's buffer and
// then copied, or straight into dst when direct. A short read is continued
// until the chunk is full or the file ends; the end of the file leaves the
// rest zero, but only after some data (a chunk wholly past the end fails).
ChunkResult ReadChunk(ReadSlot& slot, int fd, long long offset, unsigned char* dst, long long length, bool direct)
{
    unsigned char* target = direct ? dst : slot.pBuffer.get();
    long long got = 0;
    while (got < length) {
        aiocb& cb = slot.cb;
        std::memset(&cb, 0, sizeof cb);
        cb.aio_fildes = fd;
        cb.aio_buf = target + got;
        cb.aio_nbytes = static_cast<size_t>(length - got);
        cb.aio_offset = static_cast<off_t>(offset + got);
        cb.aio_sigevent.sigev_notify = SIGEV_NONE;
        if (aio_read(&cb) != 0)
            return ChunkResult::Failed;
        if (WaitForRequest(cb) == WaitResult::TimedOut) {
            aio_cancel(fd, &cb);
            if (aio_error(&cb) == EINPROGRESS)
                return ChunkResult::Orphaned;
            aio_return(&cb);
            return ChunkResult::Failed;
        }
        int error = aio_error(&cb);
        ssize_t n = aio_return(&cb);
        if (error != 0 || n < 0)
            return ChunkResult::Failed;
        if (n == 0)
            break;
        got += n;
    }
    if (got <= 0)
        return ChunkResult::Failed;
    if (!direct)
        std::memcpy(dst, slot.pBuffer.get(), static_cast<size_t>(got));
    std::memset(dst + got, 0, static_cast<size_t>(length - got));
    return ChunkResult::Read;
}

// The chunks of a read, one at a time. A caller's buffer the system reads
// into directly goes with the slot of a request that timed out, and the
// rest of the read is not asked for.
long long ReadChunks(unsigned char* dst, LargeBuffer* owned, int fd, long long offset, long long length)
{
    RawReadState& st = State();
    autolocker<mutex_locker> lock(st.lock);
    ReapOrphans(st);

    bool allRead = true;
    for (long long pos = 0; pos < length;) {
        long long chunk = std::min(kChunkBytes, length - pos);
        // With kMaxOrphans requests stuck in the kernel no new slot is
        // taken: the device is not answering, so fail at once.
        if (!st.pSlot && st.iOrphans < kMaxOrphans)
            st.pSlot = NewSlot();
        ChunkResult result = st.pSlot ? ReadChunk(*st.pSlot, fd, offset + pos, dst + pos, chunk, owned != nullptr)
                                      : ChunkResult::Failed;
        if (result == ChunkResult::Orphaned) {
            st.orphans[st.iOrphans++] = st.pSlot;
            st.pSlot = nullptr;
            if (owned) {
                st.orphans[st.iOrphans - 1]->pCallerBuffer = std::move(*owned);
                return 0;
            }
        }
        if (result != ChunkResult::Read) {
            std::memset(dst + pos, 0, static_cast<size_t>(chunk));
            allRead = false;
        }
        pos += chunk;
    }
    return allRead ? length : 0;
}

bool UsableRead(const void* buffer, int fd, long long offset, long long length)
{
    return buffer && fd >= 0 && offset >= 0 && length > 0 && offset <= INT64_MAX - length;
}

}  // namespace

long long ZRReadAsyncData(void* buffer, int fd, long long offset, long long length)
{
    if (!UsableRead(buffer, fd, offset, length))
        return 0;
    return ReadChunks(static_cast<unsigned char*>(buffer), nullptr, fd, offset, length);
}

long long ZRReadAsyncDataInto(LargeBuffer& buffer, int fd, long long offset, long long length)
{
    if (!UsableRead(buffer.get(), fd, offset, length))
        return 0;
    return ReadChunks(buffer.get(), &buffer, fd, offset, length);
}

void SetRawReadTimeoutForTesting(long long milliseconds)
{
    g_timeoutMs.store(milliseconds < 1 ? 1 : milliseconds);
}

int GetRawReadOrphanCountForTesting()
{
    RawReadState& st = State();
    autolocker<mutex_locker> lock(st.lock);
    return st.iOrphans;
}
