#include "CliRecover.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "BridgeUtil.h"
#include "CliMessages.h"
#include "CliProgress.h"
#include "DataRecovery.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "Log.h"

namespace {

constexpr unsigned kWriteFailedKind = 0xD03;
constexpr unsigned kNoDataKind = 0xD02;
constexpr unsigned kDestinationKind = 0xF;
// Files named one by one per reason; the rest are only counted.
constexpr unsigned long long kNamedPerReason = 5;
// The summary names this many partly recovered files.
constexpr size_t kNamedIncomplete = 10;

// The progress sink of one file's copy: hands the bytes to the display and
// keeps the errno of a failed write. Nobody is there to free space on a full
// destination, so the copy is stopped at the first failed write.
class CCliRecoveryProgress final : public IProgress {
public:
    explicit CCliRecoveryProgress(CliProgressDisplay& display) : m_display(display) {}
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (!info)
            return;
        if (ResultKind(info->u64Result) == kWriteFailedKind && !m_bWriteFailed) {
            m_bWriteFailed = true;
            m_iWriteError = errno;
        }
        m_display.ReportBytes(m_u64Base + info->u64Done, m_u64Files);
    }
    int Continued() override { return m_bWriteFailed ? 0 : 1; }
    int shouldBuild() override { return 1; }
    void Start(unsigned long long base, unsigned long long files)
    {
        m_bWriteFailed = false;
        m_iWriteError = 0;
        m_u64Base = base;
        m_u64Files = files;
    }
    int WriteError() const { return m_iWriteError; }

private:
    CliProgressDisplay& m_display;
    bool m_bWriteFailed = false;
    int m_iWriteError = 0;
    unsigned long long m_u64Base = 0;
    unsigned long long m_u64Files = 0;
};

struct ReleaseRecovery {
    void operator()(IDataRecovery* r) const
    {
        if (r)
            r->Release();
    }
};

std::string Describe(IFileNode* node)
{
    std::string path = ZRUIPublic::GetPathByFileNode(node);
    for (char& c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return path;
}

// Files that did not come out whole, grouped by what happened and why:
// "12 files not written: No space left on device".
class CRecoveryOutcomes {
public:
    void Add(const char* what, const std::string& reason, const std::string& file, bool verbose)
    {
        unsigned long long& count = m_groups[{what, reason}];
        ++count;
        CatchExeception::WriteLogFile("%s %s: %s\n", file.c_str(), what, reason.c_str());
        if (verbose || count <= kNamedPerReason)
            CliFail(CLI_ENGINE_ERROR, file + ": " + what + ": " + reason);
    }
    unsigned long long Count() const
    {
        unsigned long long n = 0;
        for (const auto& group : m_groups)
            n += group.second;
        return n;
    }
    void Print() const
    {
        for (const auto& [key, count] : m_groups)
            std::fprintf(stderr, "  %llu %s %s: %s\n", count, count == 1 ? "file" : "files", key.first.c_str(),
                         key.second.c_str());
    }

private:
    std::map<std::pair<std::string, std::string>, unsigned long long> m_groups;
};

bool Wanted(const CliOptions& options, IFileNode* node)
{
    return node->IsNodeShow() && !node->IsDirectory() && (!options.deletedOnly || node->IsDeleted());
}

}  // namespace

int CliPrepareRecoveryFolder(const std::string& folder)
{
    std::string made;
    for (size_t slash = 0; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        made = folder.substr(0, slash);
        if (made.empty() || ::mkdir(made.c_str(), 0755) == 0 || errno == EEXIST)
            continue;
        return CliFail(CLI_ENGINE_ERROR, "cannot make the folder " + folder + " for recovered files: " +
                                             std::strerror(errno));
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return CliFail(CLI_ENGINE_ERROR, folder + " is not a folder; give a folder for recovered files");
    // A probe file shows whether the files can be made there (also for root
    // on a read-only file system).
    const std::string probe = folder + "/.vantrel-write-test";
    FILE* test = std::fopen(probe.c_str(), "wx");
    const int error = errno;
    if (!test && error != EEXIST)
        return CliFail(CLI_ENGINE_ERROR, "cannot write recovered files into " + folder + ": " + std::strerror(error));
    if (test) {
        std::fclose(test);
        std::remove(probe.c_str());
    }
    return CLI_OK;
}

int CliRecoverFound(const CliOptions& options, IRecoveryController* controller,
                    const std::vector<IFileNode*>& delivered)
{
    const std::string destination = options.recoverDir + "/";
    CCreateDirIndexMap dirIndex;
    std::map<_tagSearcherType, std::unique_ptr<IDataRecovery, ReleaseRecovery>> writers;
    std::unordered_set<IFileNode*> seen;
    unsigned long long totalBytes = 0;
    for (IFileNode* node : delivered)
        if (node && Wanted(options, node) && seen.insert(node).second)
            totalBytes += static_cast<unsigned long long>(std::max(node->GetFileSize(), 0LL));
    seen.clear();

    CliProgressDisplay display(CliProgressDisplay::StyleFor(options));
    display.Begin("recovering", totalBytes);
    CCliRecoveryProgress progress(display);
    CRecoveryOutcomes outcomes;
    unsigned long long recovered = 0, bytes = 0, attempted = 0;
    std::vector<std::string> incomplete;

    for (IFileNode* node : delivered) {
        if (!node || !Wanted(options, node) || !seen.insert(node).second)
            continue;
        const _tagSearcherType type = ZRCPPPublic::instance().GetNodeSearcheType(node);
        auto it = writers.find(type);
        if (it == writers.end()) {
            // Label RAW files are carved by the RAW searcher and read through it.
            IDataRecovery* made = controller ? controller->GetDataRecovery(type == SEARCHER_LABEL_RAW ? SEARCHER_RAW : type)
                                             : nullptr;
            it = writers.emplace(type, std::unique_ptr<IDataRecovery, ReleaseRecovery>(made)).first;
        }
        const unsigned long long size = static_cast<unsigned long long>(std::max(node->GetFileSize(), 0LL));
        IDataRecovery* writer = it->second.get();
        if (!writer) {
            outcomes.Add("not recovered", "no copier for its kind of tree", Describe(node), options.verbose);
            attempted += size;
            continue;
        }
        IFileReader* reader = writer->SetRecoverNode(node);
        char* path = CreateRecoveryFilePathByNode(node, destination.c_str(), &dirIndex);
        progress.Start(attempted, recovered);
        errno = 0;
        const ResultCode rc = writer->RecoverTo(path, &progress, 0);
        const int error = progress.WriteError() != 0 ? progress.WriteError() : errno;
        // An empty file has no reader and is written empty: that counts.
        if (!IsResultFailure(rc) || (ResultKind(rc) == kNoDataKind && node->GetFileSize() == 0)) {
            ++recovered;
            bytes += size;
        } else if (ResultKind(rc) == CDataRecovery::kKindPartlyRecovered) {
            struct stat st {};
            const long long have = path && stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
            incomplete.push_back(Describe(node));
            bytes += static_cast<unsigned long long>(have);
            const std::string what = "incomplete, " + std::to_string(have) + " of " +
                                     std::to_string(node->GetFileSize()) + " bytes";
            outcomes.Add(what.c_str(), DescribeRecoveryResult(rc), Describe(node), options.verbose);
        } else {
            const bool notWritten = ResultKind(rc) == kWriteFailedKind || ResultKind(rc) == kDestinationKind;
            outcomes.Add(notWritten ? "not written" : "not recovered", CliResultCause(rc, error), Describe(node),
                         options.verbose);
        }
        attempted += size;
        display.ReportBytes(attempted, recovered);
        std::free(path);
        if (reader)
            reader->Release();
    }
    display.End(recovered);
    const unsigned long long problems = outcomes.Count();
    const unsigned long long failed = problems - incomplete.size();
    if (!options.quiet) {
        std::string partly;
        if (!incomplete.empty()) {
            std::string names;
            for (size_t i = 0; i < incomplete.size() && i < kNamedIncomplete; ++i)
                names += (i ? ", " : "") + incomplete[i];
            if (incomplete.size() > kNamedIncomplete)
                names += ", and " + std::to_string(incomplete.size() - kNamedIncomplete) + " more";
            partly = "; " + std::to_string(incomplete.size()) + " incomplete: " + names;
        }
        std::fprintf(stderr, "recovered %llu %s%s%s %llu failed (%s written to %s)\n", recovered,
                     recovered == 1 ? "file" : "files", partly.c_str(), partly.empty() ? "," : ";", failed, CliSize(bytes).c_str(),
                     options.recoverDir.c_str());
        outcomes.Print();
    }
    return problems == 0 ? CLI_OK : CLI_ENGINE_ERROR;
}
