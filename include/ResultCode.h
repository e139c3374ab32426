// 64-bit result codes of engine operations and the always-on assertion.
//
// Layout: top byte 1 on failure, next byte the module, next 16 bits a source
// position, low 32 bits the error kind. Callers only test the top byte.
#pragma once

#include <cstdint>
#include <string>

using ResultCode = unsigned long long;

constexpr ResultCode MakeResultCode(unsigned module, unsigned line, unsigned kind)
{
    return (1ULL << 56) | (static_cast<ResultCode>(module & 0xFF) << 48) |
           (static_cast<ResultCode>(line & 0xFFFF) << 32) | kind;
}

constexpr bool IsResultFailure(ResultCode c) { return (c >> 56) != 0; }
constexpr unsigned ResultModule(ResultCode c) { return static_cast<unsigned>((c >> 48) & 0xFF); }
constexpr unsigned ResultLine(ResultCode c) { return static_cast<unsigned>((c >> 32) & 0xFFFF); }
constexpr unsigned ResultKind(ResultCode c) { return static_cast<unsigned>(c & 0xFFFFFFFFu); }

// "0x10e009400000005 (module 0x0e, line 148, kind 5)"
std::string FormatResultCode(ResultCode c);

enum : unsigned {
    kModuleUIController = 0x02,
    kModuleEnumDevice = 0x03,
    kModuleRecoveryController = 0x04,
    kModuleHFSPlus = 0x05,
    kModuleFATSearch = 0x0a,
    kModuleDataRecovery = 0x0d,
    kModuleStorageDevice = 0x0e,
    kModulePartitionTable = 0x10,
    kModuleNTFSSearch = 0x12,
};

[[noreturn]] void VantrelAssertFailed(const char* expr, const char* file, int line);

// Internal consistency check; stays on in release builds.
#define VANTREL_ASSERT(expr) \
    ((expr) ? static_cast<void>(0) : VantrelAssertFailed(#expr, __FILE__, __LINE__))
