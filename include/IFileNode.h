// The file-node model every searcher fills: extents, nodes and properties.
#pragma once

#include "EngineTypes.h"

class IFileReader;

// One extent of a file in allocation units of its partition; a negative
// start marks a sparse extent.
struct DataRun {
    long long llStart = 0;
    long long llLength = 0;
};

class IDataRunList {
public:
    virtual ~IDataRunList() = default;
    virtual DataRun* GetFirst() = 0;
    virtual DataRun* GetNext() = 0;
    virtual int IsDone() = 0;
    virtual int IsResident() = 0;
    virtual IDataRunList* Clone() = 0;
    virtual void AddDataRun(const DataRun* run) = 0;
    virtual long long GetOffset() = 0;
    virtual int GetDataRunListType() = 0;
    virtual void Release() = 0;
};

IDataRunList* CreateDataRunList();

class IFileNode {
public:
    virtual ~IFileNode() = default;
    virtual int IsNodeShow() const = 0;
    virtual void ShowNode(int show) = 0;
    virtual long long GetCurrentNodeID() const = 0;
    virtual long long GetParentNodeID() const = 0;
    virtual IFileNode* GetParent() const = 0;
    virtual IFileNode* GetFirstChild() = 0;
    virtual IFileNode* GetNextNode() = 0;
    virtual const char* GetFileName() = 0;
    virtual long long GetFileSize() = 0;
    virtual unsigned int GetAttribute() = 0;
    virtual unsigned long long GetCreationTime() = 0;
    virtual unsigned long long GetModificationTime() = 0;
    virtual unsigned long long GetLastAccessTime() = 0;
    virtual int IsDirectory() = 0;
    virtual int IsDeleted() = 0;
    virtual _tagCheckedStatus GetCheckedStatus() = 0;
    virtual void SetCheck(_tagCheckedStatus status) = 0;
    virtual _tagSearcherType GetSearcheType() const = 0;
    virtual const char* GetVolumeName() const = 0;
    virtual int AddChild(IFileNode* node) = 0;
    virtual int AddNext(IFileNode* node) = 0;
    virtual void SetParentNodeID(long long id) = 0;
    virtual IFileNode* Clone() = 0;
    virtual void Release() = 0;
    virtual void MarkDeleted() = 0;
    virtual IFileReader* CreateCompressFileReader(void* volumeContext) = 0;
    virtual int IsCompressed() const = 0;
    virtual void SetMetaDataSector(long long sector) = 0;
    virtual void FilterFileNameByDot() = 0;
    virtual void UpdateFileSize(long long size) = 0;
    virtual void UpdateNodeInfo() = 0;
    virtual void SetFileName(const char* name) = 0;
};

class IFilesystemNode : public IFileNode {
};

// Attribute bit of a directory in the Windows layout.
constexpr unsigned int FILE_ATTRIBUTE_DIRECTORY_BIT = 0x10;

// Per-file-system attribute record of a node.
class IFileProperties {
public:
    virtual ~IFileProperties() = default;
    virtual int GetFileNameLength() = 0;
    virtual void SetFileName(const char* name) = 0;
    virtual const char* GetFileName() = 0;
    virtual long long GetFileSize() = 0;
    virtual unsigned int GetAttribute() = 0;
    virtual unsigned long long GetRawFileCreateTime() = 0;
    virtual unsigned long long GetCreationTime() = 0;
    virtual unsigned long long GetModificationTime() = 0;
    virtual unsigned long long GetLastAccessTime() = 0;
    virtual unsigned short GetState() = 0;
    virtual void SetState(unsigned short state) = 0;
    virtual IDataRunList* GetDataRunList() = 0;
    virtual IFileProperties* Clone() = 0;
};
