#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "CliCommands.h"

namespace {

const char kUsage[] =
    "usage: vantrel-cli devices\n"
    "       vantrel-cli parts [--sector-size N] SOURCE\n"
    "       vantrel-cli read [--sector-size N] SOURCE SECTOR COUNT\n"
    "       vantrel-cli scan --quick|--deep|--deep-disk [options] SOURCE\n"
    "           --volume N        scan partition-table entry N of SOURCE\n"
    "           --offset SECTOR   scan the volume that starts at SECTOR\n"
    "           --sector-size N   sector size of an image file (512 or 4096)\n"
    "           --types MASK      file-type mask, 0..127 (default 127)\n"
    "           --list            one line per found file or folder\n"
    "           --recover DIR     copy found files to DIR\n"
    "           --deleted-only    with --recover: only deleted files\n"
    "           --save FILE       save the scan result\n"
    "           --progress        progress on standard error\n"
    "       vantrel-cli load [--sector-size N] FILE SOURCE [--list] [--recover DIR]\n"
    "           --accept-damaged  use a result whose trees are damaged\n";

int Usage(const std::string& message)
{
    if (!message.empty())
        std::fprintf(stderr, "vantrel-cli: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return CLI_USAGE;
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

// Sends the engine's standard-output diagnostics to standard error while a
// subcommand runs; the subcommand's results go through CliOut().
class ResultStream {
public:
    ResultStream()
    {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        if (m_saved >= 0) {
            int forResults = dup(m_saved);
            g_cliOut = forResults >= 0 ? fdopen(forResults, "w") : nullptr;
            if (g_cliOut)
                dup2(STDERR_FILENO, STDOUT_FILENO);
        }
    }
    ~ResultStream()
    {
        std::fflush(stdout);
        if (g_cliOut) {
            std::fclose(g_cliOut);
            g_cliOut = nullptr;
            dup2(m_saved, STDOUT_FILENO);
        }
        if (m_saved >= 0)
            close(m_saved);
    }
    ResultStream(const ResultStream&) = delete;
    ResultStream& operator=(const ResultStream&) = delete;

private:
    int m_saved = -1;
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
    std::fprintf(stderr, "vantrel-cli: %s\n", message.c_str());
    return status;
}

int VantrelCliMain(int argc, char** argv)
{
    if (argc < 2)
        return Usage("");
    CliOptions opt;
    opt.command = argv[1];
    if (opt.command == "--help" || opt.command == "-h") {
        std::fputs(kUsage, stdout);
        return CLI_OK;
    }
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
        } else if (shape->scanOptions && arg == "--progress") {
            opt.progress = true;
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
    ResultStream results;
    int rc = shape->run(opt);
    if (std::fflush(CliOut()) != 0 && rc == CLI_OK)
        rc = CliFail(CLI_ENGINE_ERROR, "cannot write the results");
    return rc;
}
