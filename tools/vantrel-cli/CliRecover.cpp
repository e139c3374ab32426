#include "CliRecover.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "BridgeUtil.h"
#include "DataRecovery.h"
#include "IFileNode.h"
#include "IProgress.h"
#include "IRecovery.h"

namespace {

constexpr unsigned kWriteFailedKind = 0xD03;
constexpr unsigned kNoDataKind = 0xD02;
// The summary names this many partly recovered files.
constexpr size_t kNamedIncomplete = 10;

// The progress sink of one file's copy. Nobody is there to free space on a
// full destination, so the copy is stopped at the first failed write.
class CCliRecoveryProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (info && ResultKind(info->u64Result) == kWriteFailedKind)
            m_bWriteFailed = true;
    }
    int Continued() override { return m_bWriteFailed ? 0 : 1; }
    int shouldBuild() override { return 1; }
    void Reset() { m_bWriteFailed = false; }

private:
    bool m_bWriteFailed = false;
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

}  // namespace

int CliRecoverFound(const CliOptions& options, IRecoveryController* controller,
                    const std::vector<IFileNode*>& delivered)
{
    const std::string destination = options.recoverDir + "/";
    CCreateDirIndexMap dirIndex;
    std::map<_tagSearcherType, std::unique_ptr<IDataRecovery, ReleaseRecovery>> writers;
    std::unordered_set<IFileNode*> seen;
    CCliRecoveryProgress progress;
    unsigned long long recovered = 0, failed = 0;
    std::vector<std::string> incomplete;

    for (IFileNode* node : delivered) {
        if (!node || !seen.insert(node).second || !node->IsNodeShow() || node->IsDirectory())
            continue;
        if (options.deletedOnly && !node->IsDeleted())
            continue;
        const _tagSearcherType type = ZRCPPPublic::instance().GetNodeSearcheType(node);
        auto it = writers.find(type);
        if (it == writers.end()) {
            // Label RAW files are carved by the RAW searcher and read through it.
            IDataRecovery* made = controller ? controller->GetDataRecovery(type == SEARCHER_LABEL_RAW ? SEARCHER_RAW : type)
                                             : nullptr;
            it = writers.emplace(type, std::unique_ptr<IDataRecovery, ReleaseRecovery>(made)).first;
        }
        IDataRecovery* writer = it->second.get();
        if (!writer) {
            ++failed;
            std::fprintf(stderr, "vantrel-cli: %s: no copier for tree %d\n", Describe(node).c_str(),
                         static_cast<int>(type));
            continue;
        }
        IFileReader* reader = writer->SetRecoverNode(node);
        char* path = CreateRecoveryFilePathByNode(node, destination.c_str(), &dirIndex);
        progress.Reset();
        const ResultCode rc = writer->RecoverTo(path, &progress, 0);
        // An empty file has no reader and is written empty: that counts.
        if (!IsResultFailure(rc) || (ResultKind(rc) == kNoDataKind && node->GetFileSize() == 0)) {
            ++recovered;
        } else if (ResultKind(rc) == CDataRecovery::kKindPartlyRecovered) {
            struct stat st {};
            const long long have = path && stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
            incomplete.push_back(Describe(node));
            std::fprintf(stderr, "vantrel-cli: %s: incomplete, %lld of %lld bytes in %s: %s\n",
                         incomplete.back().c_str(), have, node->GetFileSize(), path, DescribeRecoveryResult(rc));
        } else {
            ++failed;
            std::fprintf(stderr, "vantrel-cli: %s: not recovered to %s: %s\n", Describe(node).c_str(),
                         path ? path : "(no path)", FormatResultCode(rc).c_str());
        }
        std::free(path);
        if (reader)
            reader->Release();
    }
    if (incomplete.empty()) {
        std::fprintf(stderr, "recovered %llu files, %llu failed\n", recovered, failed);
    } else {
        std::string names;
        for (size_t i = 0; i < incomplete.size() && i < kNamedIncomplete; ++i)
            names += (i ? ", " : "") + incomplete[i];
        if (incomplete.size() > kNamedIncomplete)
            names += ", and " + std::to_string(incomplete.size() - kNamedIncomplete) + " more";
        std::fprintf(stderr, "recovered %llu files; %zu incomplete: %s; %llu failed\n", recovered, incomplete.size(),
                     names.c_str(), failed);
    }
    return failed == 0 && incomplete.empty() ? CLI_OK : CLI_ENGINE_ERROR;
}
