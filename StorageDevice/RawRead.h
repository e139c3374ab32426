// The one path through which every raw sector read reaches the system.
#pragma once

#include "LargeBuffer.h"

// Reads length bytes at offset of fd into buffer, in chunks of at most
// 4 MiB, all reads of the process one at a time. Returns length when every
// chunk was read, otherwise 0; a chunk that failed is zeros in buffer, and a
// read that ends at the end of the file leaves the rest of its chunk zero.
// A null buffer, a negative descriptor, offset or length, or length 0 give 0.
long long ZRReadAsyncData(void* buffer, int fd, long long offset, long long length);
// As ZRReadAsyncData, without copying: the system reads into buffer itself.
// A request that times out may still write to it later, so the read path
// then takes the buffer (it is null on return, the call gives 0) and frees
// it once the request has finished.
long long ZRReadAsyncDataInto(LargeBuffer& buffer, int fd, long long offset, long long length);

// Tests only: the wait for one request (default 30 s), and the number of
// timed-out requests still in flight in the kernel.
void SetRawReadTimeoutForTesting(long long milliseconds);
int GetRawReadOrphanCountForTesting();
