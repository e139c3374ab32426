#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "CliCommands.h"
#include "CliProgress.h"
#include "Log.h"

namespace {

const char kUsage[] =
    "usage: vantrel-cli devices\n"
    "       vantrel-cli parts [--sector-size N] SOURCE\n"
    "       vantrel-cli read [--sector-size N] SOURCE SECTOR COUNT\n"
    "       vantrel-cli scan --quick|--deep|--deep-disk [options] SOURCE\n"
    "       vantrel-cli load [--sector-size N] [--list] [--recover DIR] [--accept-damaged] FILE SOURCE\n"
    "       vantrel-cli --help\n"
    "Try 'vantrel-cli --help' for the options, the output formats and the exit codes.\n";

const char kHelp[] =
    "vantrel-cli: finds live and deleted files on disks and disk images and copies them out.\n"
    "The source is only ever read; nothing is written onto it.\n"
    "\n"
    "Commands:\n"
    "  devices                    list disks, volumes and partitions of this machine\n"
    "  parts SOURCE               list the partition table of SOURCE\n"
    "  read SOURCE SECTOR COUNT   dump COUNT sectors from SECTOR (1..8192) as hex\n"
    "  scan MODE SOURCE           scan SOURCE (an image file or a block device)\n"
    "  load FILE SOURCE           replay a scan result saved with --save over SOURCE\n"
    "\n"
    "Scan modes:\n"
    "  --quick          read the file system's own records. Without --volume or --offset:\n"
    "                   a bare volume (no partition table) is scanned as it is; a disk\n"
    "                   with a partition table has every volume scanned\n"
    "  --deep           search a volume (or SOURCE) sector by sector for file systems\n"
    "                   and for files by their content\n"
    "  --deep-disk      the deep scan of the whole disk\n"
    "\n"
    "Options:\n"
    "  --volume N       scan partition-table entry N of SOURCE (see 'parts')\n"
    "  --offset SECTOR  scan the volume that starts at SECTOR\n"
    "  --sector-size N  sector size of an image file: 512 or 4096\n"
    "  --types MASK     file-type mask for the deep scan's carving, 0..127 (default 127)\n"
    "  --list           print one line per found file or folder on standard output\n"
    "  --recover DIR    copy the found files into DIR (made when missing)\n"
    "  --deleted-only   with --recover: only deleted files\n"
    "  --save FILE      save the scan result to FILE (open it again with 'load')\n"
    "  --progress       show progress (the default unless --quiet)\n"
    "  --progress=lines progress as stable lines, also on a terminal\n"
    "  --progress=engine the engine's own progress reports instead, for diagnosis:\n"
    "                   progress STATE TOTAL DONE RESULT (state 2 running, 3 finished)\n"
    "  --verbose        also print the engine's diagnostics on standard error\n"
    "  --quiet          no progress display and no summary\n"
    "  --accept-damaged with load: use a result whose trees are damaged (exit 0)\n"
    "  -h, --help       this text\n"
    "\n"
    "Output:\n"
    "  Standard output carries only results. Standard error carries the progress display,\n"
    "  the summary, warnings and errors. The engine's diagnostics go to its log,\n"
    "  sMAC_iKolm.log in $VANTREL_WORK_DIR, else in $XDG_STATE_HOME/vantrel-data-recovery\n"
    "  (default ~/.local/state/vantrel-data-recovery), kept below 16 MiB with one older copy.\n"
    "\n"
    "  --list lines, tab-separated:\n"
    "    TREE PATH SIZE DELETED IS_DIR CREATED MODIFIED\n"
    "    TREE: 31 HFS+, 32 FAT, 33 exFAT, 34 carved (RAW), 35 NTFS, 36 carved by label,\n"
    "    37 APFS; PATH: names below the tree root, control characters shown as '?';\n"
    "    DELETED, IS_DIR: 0 or 1; times as 2024-05-01T12:00:00Z, empty when unknown.\n"
    "  parts lines: INDEX START COUNT TYPE (GPT type GUID, APM type name, empty for MBR).\n"
    "  devices lines: KIND PATH SECTOR_SIZE SECTORS FS_TYPE LABEL MOUNTED.\n"
    "  Progress lines (when standard error is not a terminal, or with --progress=lines):\n"
    "    progress PHASE PERCENT BYTES_DONE BYTES_TOTAL FILES\n"
    "    PHASE: reading or recovering; PERCENT: 0..100, one line each time it grows,\n"
    "    the last at 100; FILES: files found (reading) or written (recovering) so far.\n"
    "  On a terminal the progress is one line redrawn in place and cleared at the end.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the work failed (a source that cannot be read, no file system found, files not\n"
    "     recovered, a target on the source refused); the message says why\n"
    "  2  wrong usage (unknown option, missing or bad argument)\n"
    "  3  the command is not available in this build\n";

int Usage(const std::string& message)
{
    if (!message.empty())
        std::fprintf(stderr, "vantrel-cli: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return CLI_USAGE;
}

int Help()
{
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 ? CLI_OK : CLI_ENGINE_ERROR;
}

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseNumber(std::string_view text, long long& value)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

struct CommandShape {
    const char* name;
    size_t positionals;
    const char* positionalNames;
    bool scanOptions;  // --volume, --offset, --types, --save, --progress, modes
    bool outputOptions;  // --list, --recover, --deleted-only
    bool takesSource;
    int (*run)(const CliOptions&);
};

const CommandShape kCommands[] = {
    {"devices", 0, "", false, false, false, CliDevices},
    {"parts", 1, "SOURCE", false, false, true, CliParts},
    {"read", 3, "SOURCE SECTOR COUNT", false, false, true, CliRead},
    {"scan", 1, "SOURCE", true, true, true, CliScan},
    {"load", 2, "FILE SOURCE", false, true, true, CliLoad},
};

FILE* g_cliOut = nullptr;

// While a subcommand runs, what the engine prints on standard output goes
// line by line into the engine log; with --verbose standard output is
// pointed at standard error instead, and the log prints its entries there
// too. The subcommand's results go through CliOut(), the real standard
// output.
class EngineOutput {
public:
    explicit EngineOutput(bool verbose)
    {
        std::fflush(stdout);
        CatchExeception::SetEcho(verbose);
        m_saved = dup(STDOUT_FILENO);
        if (m_saved < 0)
            return;
        const int forResults = fcntl(m_saved, F_DUPFD_CLOEXEC, 0);
        g_cliOut = forResults >= 0 ? fdopen(forResults, "w") : nullptr;
        if (!g_cliOut)
            return;
        if (verbose) {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            return;
        }
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            return;
        }
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        m_reader = std::thread(CopyToLog, ends[0]);
    }
    ~EngineOutput()
    {
        std::fflush(stdout);
        if (g_cliOut) {
            std::fclose(g_cliOut);
            g_cliOut = nullptr;
            dup2(m_saved, STDOUT_FILENO);  // the pipe's last writer goes: the reader ends
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_saved >= 0)
            close(m_saved);
    }
    EngineOutput(const EngineOutput&) = delete;
    EngineOutput& operator=(const EngineOutput&) = delete;

private:
    static void CopyToLog(int fd)
    {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                CatchExeception::WriteLogFile("%.*s\n", static_cast<int>(end - start), pending.data() + start);
            pending.erase(0, start);
        }
        if (!pending.empty())
            CatchExeception::WriteLogFile("%s\n", pending.c_str());
        close(fd);
    }

    int m_saved = -1;
    std::thread m_reader;
};

}  // namespace

FILE* CliOut()
{
    return g_cliOut ? g_cliOut : stdout;
}

bool CliParseNumber(std::string_view text, long long& value)
{
    return ParseNumber(text, value);
}

int CliNotAvailable(const char* name)
{
    std::fprintf(stderr, "vantrel-cli: %s: not available in this build\n", name);
    return CLI_NOT_AVAILABLE;
}

int CliFail(int status, const std::string& message)
{
    CliProgressDisplay::ClearActive();
    std::fprintf(stderr, "vantrel-cli: %s\n", message.c_str());
    return status;
}

void CliNote(const std::string& line)
{
    CliProgressDisplay::ClearActive();
    std::fprintf(stderr, "%s\n", line.c_str());
}

void CliWarn(const std::string& message)
{
    CliProgressDisplay::ClearActive();
    std::fprintf(stderr, "vantrel-cli: warning: %s\n", message.c_str());
}

int VantrelCliMain(int argc, char** argv)
{
    if (argc < 2)
        return Usage("");
    CliOptions opt;
    opt.command = argv[1];
    if (opt.command == "--help" || opt.command == "-h")
        return Help();
    const CommandShape* shape = nullptr;
    for (const CommandShape& c : kCommands)
        if (opt.command == c.name)
            shape = &c;
    if (!shape)
        return Usage("unknown subcommand '" + opt.command + "'");

    bool sawVolume = false, sawOffset = false;
    int modes = 0;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](long long& out) -> int {
            std::string text;
            if (!value(text))
                return Usage(arg + " needs a value");
            if (!ParseNumber(text, out))
                return Usage(arg + ": '" + text + "' is not a number");
            return CLI_OK;
        };
        if (arg.size() < 2 || arg[0] != '-' || arg == "-") {
            opt.positional.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h")
            return Help();
        if (arg == "--verbose") {
            opt.verbose = true;
            continue;
        }
        if (arg == "--quiet") {
            opt.quiet = true;
            continue;
        }
        if (arg == "--sector-size" && shape->takesSource) {
            long long n = 0;
            if (int rc = number(n))
                return rc;
            if (n != 512 && n != 4096)
                return Usage("--sector-size must be 512 or 4096");
            opt.sectorSize = static_cast<unsigned int>(n);
        } else if (shape->scanOptions && (arg == "--quick" || arg == "--deep" || arg == "--deep-disk")) {
            ++modes;
            opt.mode = arg == "--quick" ? CliScanMode::Quick
                       : arg == "--deep" ? CliScanMode::Deep
                                         : CliScanMode::DeepDisk;
        } else if (shape->scanOptions && arg == "--volume") {
            long long n = 0;
            if (int rc = number(n))
                return rc;
            if (n < 0)
                return Usage("--volume must not be negative");
            opt.volume = n;
            sawVolume = true;
        } else if (shape->scanOptions && arg == "--offset") {
            long long n = 0;
            if (int rc = number(n))
                return rc;
            if (n < 0)
                return Usage("--offset must not be negative");
            opt.offset = n;
            sawOffset = true;
        } else if (shape->scanOptions && arg == "--types") {
            long long n = 0;
            if (int rc = number(n))
                return rc;
            if (n < 0 || n > 127)
                return Usage("--types must be within 0..127");
            opt.types = static_cast<unsigned int>(n);
        } else if (shape->scanOptions && arg == "--save") {
            if (!value(opt.saveFile) || opt.saveFile.empty())
                return Usage("--save needs a FILE");
        } else if (shape->outputOptions && arg == "--progress") {
            // The display is on unless --quiet: nothing to set.
        } else if (shape->outputOptions && arg == "--progress=lines") {
            opt.progressLines = true;
        } else if (shape->outputOptions && arg == "--progress=engine") {
            opt.progressEngine = true;
        } else if (shape->outputOptions && arg == "--list") {
            opt.list = true;
        } else if (shape->outputOptions && arg == "--recover") {
            if (!value(opt.recoverDir) || opt.recoverDir.empty())
                return Usage("--recover needs a DIR");
        } else if (opt.command == "load" && arg == "--accept-damaged") {
            opt.acceptDamaged = true;
        } else if (shape->outputOptions && arg == "--deleted-only") {
            opt.deletedOnly = true;
        } else {
            return Usage(opt.command + ": unknown option '" + arg + "'");
        }
    }

    if (shape->scanOptions) {
        if (modes == 0)
            return Usage("scan needs one of --quick, --deep, --deep-disk");
        if (modes > 1)
            return Usage("scan takes only one of --quick, --deep, --deep-disk");
        if (sawVolume && sawOffset)
            return Usage("--volume and --offset cannot be used together");
        if (opt.mode == CliScanMode::DeepDisk && (sawVolume || sawOffset))
            return Usage(std::string("--deep-disk scans the whole disk and takes no ") +
                         (sawVolume ? "--volume" : "--offset"));
    }
    if (opt.deletedOnly && opt.recoverDir.empty())
        return Usage("--deleted-only goes with --recover");
    if (opt.positional.size() < shape->positionals)
        return Usage(opt.command + ": missing " + shape->positionalNames);
    if (opt.positional.size() > shape->positionals)
        return Usage(opt.command + ": unexpected argument '" + opt.positional[shape->positionals] + "'");
    if (opt.verbose && opt.quiet)
        return Usage("--verbose and --quiet cannot be used together");
    EngineOutput output(opt.verbose);
    int rc = shape->run(opt);
    if (std::fflush(CliOut()) != 0 && rc == CLI_OK)
        rc = CliFail(CLI_ENGINE_ERROR, "cannot write the results");
    return rc;
}
