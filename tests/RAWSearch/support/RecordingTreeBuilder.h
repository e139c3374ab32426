// A tree builder for RAW tests: keeps every node it accepts, in order, with
// its tree type, id and parent id, and refuses the nodes a test chooses.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "IFileNode.h"
#include "ITreeBuilder.h"

class IFileNode;

class RecordingTreeBuilder : public IDirecotryTreeBuilder {
public:
    struct Entry {
        IFileNode* node;  // owned by the builder
        _tagSearcherType type;
        long long id;
        long long parentId;
        std::string name;
        bool directory;
    };
    // True refuses the node (the caller keeps and releases it).
    using RefusePredicate = std::function<bool(IFileNode* node, _tagSearcherType type)>;

    RecordingTreeBuilder() = default;
    ~RecordingTreeBuilder() override;
    RecordingTreeBuilder(const RecordingTreeBuilder&) = delete;
    RecordingTreeBuilder& operator=(const RecordingTreeBuilder&) = delete;

    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    // The test owns the builder; Release does nothing.
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override { return 1; }

    void SetRefuse(RefusePredicate refuse) { m_refuse = std::move(refuse); }

    // Accepted nodes in hand-over order.
    const std::vector<Entry>& Accepted() const { return m_accepted; }
    // Accepted nodes of one tree.
    std::vector<Entry> InTree(_tagSearcherType type) const;
    // The first accepted node of that name (and tree), null when none.
    const Entry* Find(const std::string& name, _tagSearcherType type = SEARCHER_NONE) const;
    // The first accepted node of that id in a tree, null when none.
    const Entry* FindId(long long id, _tagSearcherType type) const;
    // Names of the refused nodes, in order.
    const std::vector<std::string>& Refused() const { return m_refused; }
    const std::vector<std::pair<_tagSearcherType, long long>>& SearcherInfos() const { return m_infos; }
    const std::vector<_tagSearcherType>& Flashed() const { return m_flashed; }

private:
    RefusePredicate m_refuse;
    std::vector<Entry> m_accepted;
    std::vector<std::string> m_refused;
    std::vector<std::pair<_tagSearcherType, long long>> m_infos;
    std::vector<_tagSearcherType> m_flashed;
};
