// Shared inside the bridge services library only.
#pragma once

#include <string>
#include <vector>

class IFileNode;

namespace bridge_detail {

// Parents followed at most when looking for a node's tree root.
constexpr int kMaxParentSteps = 1024;

// The raw names that make up a node's path, top first: the volume name of
// the tree root (empty when the top node is no root), then every node below
// it down to the node itself. At most kMaxParentSteps + 1 entries.
std::vector<std::string> NodePathComponents(IFileNode* node);

}  // namespace bridge_detail
