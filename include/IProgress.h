// Progress sink of a long operation and its fixed report record.
#pragma once

#include <cstddef>
#include <cstdint>

struct _PROGRESS_INFO {
    uint32_t dwState;          // 2 running, 3 finished
    uint32_t dwPad;
    uint64_t u64Total;
    uint64_t u64Done;
    uint64_t u64Result;        // result code, 0 when no error
    uint8_t reserved[4128 - 32];
};
static_assert(sizeof(_PROGRESS_INFO) == 4128);
static_assert(offsetof(_PROGRESS_INFO, dwState) == 0);
static_assert(offsetof(_PROGRESS_INFO, u64Total) == 8);
static_assert(offsetof(_PROGRESS_INFO, u64Done) == 16);
static_assert(offsetof(_PROGRESS_INFO, u64Result) == 24);

enum : uint32_t {
    PROGRESS_STATE_RUNNING = 2,
    PROGRESS_STATE_FINISHED = 3,
};

class IProgress {
public:
    virtual ~IProgress() = default;
    virtual void UpdateProgress(_PROGRESS_INFO* info) = 0;
    virtual int Continued() = 0;
    virtual int shouldBuild() = 0;
};
