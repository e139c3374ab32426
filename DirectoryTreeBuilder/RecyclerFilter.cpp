#include "RecyclerFilter.h"

#include <cstring>
#include <initializer_list>

#include "IFileNode.h"

namespace {

bool EqualsIgnoringAsciiCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

// The name when it has at least two characters, the first '#' or '$' and the
// second `second`; else null.
const char* RecycleName(IFileNode* node, char second)
{
    const char* name = node ? node->GetFileName() : nullptr;
    if (!name || std::strlen(name) < 2)
        return nullptr;
    if ((name[0] != '#' && name[0] != '$') || name[1] != second)
        return nullptr;
    return name;
}

// Linked ancestors looked at before giving up: a damaged tree cannot hold
// the search up.
constexpr int kMaxAncestors = 1 << 20;

}  // namespace

bool CRecyclerFilter::IsRecycleBinFolder(IFileNode* node)
{
    if (!node || !(node->GetAttribute() & FILE_ATTRIBUTE_DIRECTORY_BIT))
        return false;
    const char* name = node->GetFileName();
    if (!name)
        return false;
    for (const char* bin : {"Recycler", "Recycled", "$Recycle.Bin", "$RECYCLE.BI0"})
        if (EqualsIgnoringAsciiCase(name, bin))
            return true;
    return false;
}

bool CRecyclerFilter::IsRecycleBin(IFileNode* node)
{
    int steps = 0;
    for (IFileNode* n = node; n && steps < kMaxAncestors; n = n->GetParent(), ++steps)
        if (IsRecycleBinFolder(n))
            return true;
    return false;
}

bool CRecyclerFilter::IsRecoverNode(IFileNode* node)
{
    return RecycleName(node, 'I') != nullptr;
}

bool CRecyclerFilter::IsRecoverNodeEx(IFileNode* node)
{
    const char* name = RecycleName(node, 'R');
    return name && !std::strstr("$RmMetadata$Reparse$Repair", name);
}
