// The tree builder searchers feed, and the found-node sink behind it.
#pragma once

#include "EngineTypes.h"

class IFileNode;
class IFilesystemNode;
class IRecoveryFilter;
class IStorageDevice;
class CSearchedPartitionInfo;

class IDrirectoryTree {
public:
    virtual ~IDrirectoryTree() = default;
    // A batch of nodes now below a shown root; flag 1 for the lost files.
    virtual void ShowNodes(IFileNode** nodes, unsigned int count, int flag) = 0;
    virtual void ShowFilesystemNode(IFilesystemNode* root) = 0;
};

class IDirecotryTreeBuilder {
public:
    virtual ~IDirecotryTreeBuilder() = default;
    virtual int Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter) = 0;
    // 1: the builder owns the node now; 0: refused, the caller releases it.
    virtual int AddNode(IFileNode* node, _tagSearcherType type) = 0;
    virtual int AddSearcherInfo(_tagSearcherType type, long long rootId) = 0;
    virtual int FlashBuild(_tagSearcherType type) = 0;
    virtual void Release() = 0;
    virtual int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) = 0;
    // The label a searcher read from the volume it is filing (FAT or exFAT
    // label, NTFS $Volume name, HFS+ or APFS volume name). A scanned device
    // without a name of its own (a whole disk, an image file) then names the
    // tree of that type after the volume instead of "Disk". 1 when the tree
    // was renamed.
    virtual int SetSearcherVolumeName(_tagSearcherType /*type*/, const char* /*name*/) { return 0; }
};

IDirecotryTreeBuilder* CreateTreeBuilder(bool restoreMode);
