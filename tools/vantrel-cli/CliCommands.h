// The command-line driver: parsed options and one handler per subcommand.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum CliExit : int {
    CLI_OK = 0,
    CLI_ENGINE_ERROR = 1,
    CLI_USAGE = 2,
    CLI_NOT_AVAILABLE = 3,
};

enum class CliScanMode { None, Quick, Deep, DeepDisk };

struct CliOptions {
    std::string command;
    std::vector<std::string> positional;  // SOURCE, SECTOR, COUNT, FILE as the command takes them
    CliScanMode mode = CliScanMode::None;
    std::optional<long long> volume;      // partition-table entry
    std::optional<long long> offset;      // start sector of the volume
    unsigned int sectorSize = 0;          // 0: not given
    unsigned int types = 127;
    bool list = false;
    bool deletedOnly = false;
    bool progressLines = false;           // --progress=lines
    bool progressEngine = false;          // --progress=engine: the engine's reports as they come
    bool verbose = false;                 // engine diagnostics on standard error too
    bool quiet = false;                   // no progress display, no summary
    bool acceptDamaged = false;           // load: go on with damaged trees
    std::string recoverDir;
    std::string saveFile;
};

// Parses argv and runs the subcommand; returns the exit status.
int VantrelCliMain(int argc, char** argv);

// Where a subcommand writes its results. While a subcommand runs, what the
// engine prints on standard output goes to the engine log (and, with
// --verbose, to standard error), never among the listing; results go here.
FILE* CliOut();

// Prints "vantrel-cli: NAME: not available in this build" and returns 3.
int CliNotAvailable(const char* name);
// Prints "vantrel-cli: MESSAGE" on standard error (clearing the progress
// line first) and returns status.
int CliFail(int status, const std::string& message);
// Prints LINE on standard error (a summary or a note), clearing the
// progress line first.
void CliNote(const std::string& line);
// Prints "vantrel-cli: warning: MESSAGE" on standard error.
void CliWarn(const std::string& message);
// Decimal, or hexadecimal with 0x, as the option values; the whole text
// must be the number.
bool CliParseNumber(std::string_view text, long long& value);

int CliDevices(const CliOptions& options);
int CliParts(const CliOptions& options);   // positional: SOURCE
int CliRead(const CliOptions& options);    // positional: SOURCE SECTOR COUNT
int CliScan(const CliOptions& options);    // positional: SOURCE
int CliLoad(const CliOptions& options);    // positional: FILE SOURCE
