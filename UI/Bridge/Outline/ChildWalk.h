// Walks the children of an engine node in order, each once: a damaged tree
// may chain its children back onto themselves, and the walk then stops at
// the first child met a second time. A sound chain (the usual case) is
// walked without any bookkeeping; only a looping one pays for a set.
#pragma once

#include <unordered_set>

#include "IFileNode.h"

namespace outline_detail {

// Whether the sibling chain from first runs back onto itself (Brent's
// cycle test: constant memory, a few steps past the loop's start).
inline bool ChainLoops(IFileNode* first)
{
    if (!first)
        return false;
    IFileNode* tortoise = first;
    IFileNode* hare = first->GetNextNode();
    unsigned long long power = 1;
    unsigned long long length = 1;
    while (hare) {
        if (hare == tortoise)
            return true;
        if (power == length) {
            tortoise = hare;
            power *= 2;
            length = 0;
        }
        hare = hare->GetNextNode();
        ++length;
    }
    return false;
}

template <typename Visit>
void ForEachChild(IFileNode* node, Visit&& visit)
{
    IFileNode* first = node ? node->GetFirstChild() : nullptr;
    if (!ChainLoops(first)) {
        for (IFileNode* child = first; child; child = child->GetNextNode())
            if (!visit(child))
                return;
        return;
    }
    std::unordered_set<IFileNode*> seen;
    for (IFileNode* child = first; child && seen.insert(child).second; child = child->GetNextNode())
        if (!visit(child))
            return;
}

}  // namespace outline_detail
