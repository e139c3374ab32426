#include "RecordingTreeBuilder.h"

#include "IFileNode.h"

RecordingTreeBuilder::~RecordingTreeBuilder()
{
    for (Entry& e : m_accepted)
        e.node->Release();
}

int RecordingTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type)
{
    if (!node)
        return 0;
    const char* name = node->GetFileName();
    if (m_refuse && m_refuse(node, type)) {
        m_refused.emplace_back(name ? name : "");
        return 0;
    }
    m_accepted.push_back(Entry{node, type, node->GetCurrentNodeID(), node->GetParentNodeID(), name ? name : "",
                               node->IsDirectory() != 0});
    return 1;
}

int RecordingTreeBuilder::AddSearcherInfo(_tagSearcherType type, long long rootId)
{
    m_infos.emplace_back(type, rootId);
    return 1;
}

int RecordingTreeBuilder::FlashBuild(_tagSearcherType type)
{
    m_flashed.push_back(type);
    return 1;
}

std::vector<RecordingTreeBuilder::Entry> RecordingTreeBuilder::InTree(_tagSearcherType type) const
{
    std::vector<Entry> out;
    for (const Entry& e : m_accepted)
        if (e.type == type)
            out.push_back(e);
    return out;
}

const RecordingTreeBuilder::Entry* RecordingTreeBuilder::Find(const std::string& name, _tagSearcherType type) const
{
    for (const Entry& e : m_accepted)
        if (e.name == name && (type == SEARCHER_NONE || e.type == type))
            return &e;
    return nullptr;
}

const RecordingTreeBuilder::Entry* RecordingTreeBuilder::FindId(long long id, _tagSearcherType type) const
{
    for (const Entry& e : m_accepted)
        if (e.id == id && e.type == type)
            return &e;
    return nullptr;
}
