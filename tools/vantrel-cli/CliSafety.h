// Keeps everything the driver writes off the device it reads.
#pragma once

#include <string>

// Empty when target (a file or folder, existing or to be made) lies off
// source; else the reason in words: target is source itself (same file, or a
// link to it), or source is a block device and target's file system lives on
// it, on one of its partitions or on a device built over them, or source is a
// loop device and target is its backing file.
std::string CliTargetOnSource(const std::string& source, const std::string& target);

struct CliOptions;

// Before a run over source: refuses (one message, exit 1) a --save or
// --recover target on it, and keeps the engine log off it (the log file is
// left out when its folder lies on the source). CLI_OK when safe.
int CliGuardWrites(const CliOptions& options, const std::string& source);
