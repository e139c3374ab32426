// The fuzzing entry points: one per family of on-disk parsers. Each takes one
// input, drives the engine's own code over it and returns 0; the fuzzer and
// the regression test call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sparse disk inputs (see FuzzDevice.h): the volume's recogniser, its quick
// search, its deep search over the blocks that hold data, and the first and
// last bytes of a few found files read back through the data readers.
int FuzzFat(const uint8_t* data, size_t size);
int FuzzExFat(const uint8_t* data, size_t size);
int FuzzNtfs(const uint8_t* data, size_t size);
int FuzzHfsPlus(const uint8_t* data, size_t size);
int FuzzApfs(const uint8_t* data, size_t size);
// A sparse disk input: the partition table (MBR with its EBR chain, GPT, APM)
// and every recogniser on each listed entry.
int FuzzPartitionTable(const uint8_t* data, size_t size);
// The input's bytes as a disk: the whole carving search and its size walks,
// then the carved files read back.
int FuzzRaw(const uint8_t* data, size_t size);
// One EXIF block ("Exif" 00 00 and a TIFF structure).
int FuzzExif(const uint8_t* data, size_t size);
// A saved scan result (its header checksum is made right first, so the
// fuzzer gets past it): the head, then the replay of every saved tree.
int FuzzScanResult(const uint8_t* data, size_t size);

// What the last entry point call reached: the nodes its searches listed and
// the files it read back. For checks that seeds still reach their parsers.
struct FuzzRunStats {
    size_t uNodes = 0;
    size_t uFilesRead = 0;
};
FuzzRunStats FuzzLastRunStats();

struct FuzzTarget {
    std::string name;  // folder name of its corpus and regression inputs
    int (*entry)(const uint8_t*, size_t);
};
const std::vector<FuzzTarget>& FuzzTargets();
