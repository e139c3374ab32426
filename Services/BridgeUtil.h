// Small helpers the bridge, the windows and parts of the engine share.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "EngineTypes.h"

// True when text is not null and its bytes form well-formed UTF-8: no stray
// continuation bytes, no overlong forms, no UTF-16 surrogates and nothing
// above U+10FFFF.
bool isValidString(const char* text);

class IFileNode;
class IFilesystemNode;

// Seconds since 1970 of a file time (100-ns units since 1601); the fraction
// of a second is dropped.
long long convertWindowsTimeToUnixTime(_FILETIME time);

// The number of the root folder made for each searcher type during one
// recovery run ("Fat_0002" keeps 2 under type 32). The recovery operation
// implements it; the command-line driver uses CCreateDirIndexMap.
class ICreateDirIndex {
public:
    // 0 when no folder was made for that type yet.
    virtual int GetCreateDirIndex(_tagSearcherType type) = 0;
    virtual void SetCreateDirIndex(_tagSearcherType type, int index) = 0;

protected:
    ~ICreateDirIndex() = default;
};

class CCreateDirIndexMap : public ICreateDirIndex {
public:
    int GetCreateDirIndex(_tagSearcherType type) override;
    void SetCreateDirIndex(_tagSearcherType type, int index) override;
    void ClearCreateDirIndex() { m_mapIndex.clear(); }

private:
    std::map<_tagSearcherType, int> m_mapIndex;
};

// The file a recovered node is written to, below destination:
//   destination / <prefix><NNNN> / <volume name> / <folders> / <name>
// Every folder is created, the file itself is created empty (so the name is
// taken), and a name already present gets "_0001", "_0002"... before its
// extension. Names from the disk become single safe components (see
// MakeSafePathComponent); every folder below destination is entered without
// following symbolic links, so nothing is ever created outside it.
// Returns a malloc'ed path (free() it), or null: for a hidden node, a node
// outside any file-system tree, a folder node (its folders are created), and
// when a folder or the file cannot be made.
char* CreateRecoveryFilePathByNode(void* node, const char* destination, ICreateDirIndex* dirIndex);

// One path component made from a name taken from a disk: "/" becomes "_",
// an empty name "_", a leading "." gets a "_" in front (so "." and ".." are
// "_." and "_.."), and the result is cut on a character boundary to leave
// room for a "_NNNN" collision suffix within the 255-byte limit, keeping the
// extension.
std::string MakeSafePathComponent(const std::string& name);

// Type groups of the file-type choice.
enum _FILTER_TYPE : unsigned int {
    FILTER_TYPE_PICTURE = 1,
    FILTER_TYPE_MUSIC = 2,
    FILTER_TYPE_MOVIE = 4,
    FILTER_TYPE_ARCHIVE = 8,
    FILTER_TYPE_DOCUMENT = 16,
    FILTER_TYPE_OTHER = 32,
};

// Helpers of the windows. Members marked (QtCore) are defined in the
// vantrel_bridge_qt_services library; link it to use them.
class ZRUIPublic {
public:
    // Root-folder prefix of a searcher type: "HFS+_", "Fat_", "ExFat_",
    // "RAW_", or "" for every other type.
    static const char* GetFileSystemStrByType(_tagSearcherType type);
    // "/VOLUME/FOLDER/NAME": the top node gives its volume name, every other
    // node its own name. Empty for a null node.
    static std::string GetPathByFileNode(IFileNode* node);

    // (QtCore) Case-insensitive substring test over Unicode text. An empty
    // or null key matches everything, a null text nothing.
    static bool IsStringInString(const char* key, const char* text);
    // (QtCore) A file matches by its name; a folder when any node below it
    // matches. An empty key matches; a null node does not.
    static bool IsStringInFileNode(const char* key, IFileNode* node);
    // (QtCore) The date in the locale's long form and the time in its short
    // form, in local time.
    static std::string FormatFileTimeToString(unsigned long long fileTime);

    // Members marked (facade) are defined in the vantrel_bridge_facade
    // library (UI/Bridge/Facade/ZRUIPublic.h); link it to use them.
    //
    // (facade) The object every bridge notification carries: a stable
    // address the screens may compare a notification's object with.
    static const void* ClassObject();
    // (facade) Hands name to the application's thread without waiting; there
    // it is posted on the default notification centre with ClassObject() as
    // its object and no user information.
    static void NotifyMainThread(const std::string& name);
    // (facade) The posting itself, on the calling thread.
    static void NotifyMainThreadCB(const std::string& name);
    // (facade) Runs work on a thread of its own, then NotifyMainThread(name).
    static void NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work);
};

class ZRCPPPublic {
public:
    static ZRCPPPublic& instance();

    // The top node above node (at most 1,024 steps up) when it is the root
    // of a file-system tree, else null.
    IFilesystemNode* GetFileSystemNode(IFileNode* node);
    // The searcher type of the node's tree; 38 when there is none.
    _tagSearcherType GetNodeSearcheType(IFileNode* node);
    // Local calendar year and month (1-12); null outputs are skipped.
    void GetYearMonthByTimeT(int* year, int* month, time_t time);
    void GetYearMonthByFileTime(int* year, int* month, _FILETIME time);
    // True when another process whose kernel command name is, ignoring
    // case, the start of "Vantrel Data Recovery" is running.
    bool IsAppRunning();

    // (QtCore) Titles of the type groups come from a lookup of the
    // "PAGE_TWO_..._TITLE" keys; null restores the built-in English titles.
    using TitleLookup = std::string (*)(const char* key);
    static void SetTitleLookup(TitleLookup lookup);
    // (QtCore) The title of a type group, "" for any other value.
    std::string FilterTypeToString(_FILTER_TYPE type);
    // (QtCore) The group whose title equals text; 32 for null or no match.
    _FILTER_TYPE StringToFilterType(const char* text);
    // (QtCore) ZRUIPublic::IsStringInFileNode.
    bool IsStringInFileNode(const char* key, IFileNode* node);

private:
    ZRCPPPublic() = default;
};

class ZRPublicUtilities {
public:
    // "1023 byte", "1.50 KB", "1.00 GB"...
    static std::string longlongDiskSize(unsigned long long bytes);
    static std::string longlongConvertVolSpace(unsigned long long bytes);
    static std::string fileSystemTypeForInt(int type, int isDmg);

    // Settings kept in an INI file whose path the caller gives; writes go
    // through a temporary file and a rename. Absent keys read as nothing.
    static std::optional<std::string> isFristTime(const std::string& iniPath);
    static bool writeFristTime(const std::string& iniPath);
    static std::optional<std::string> getUpDataTimeStr(const std::string& iniPath);
    static bool writeUpDataTimeStr(const std::string& iniPath, const std::string& text);

    // (QtCore library) True when a GET of url returns any data within five
    // seconds; an empty url probes the default public page.
    static bool isCanBeUseNetWork(const std::string& url = std::string());

    // (facade) The same settings in the application's "LocalVersionMessage"
    // property list (UI/Bridge/Facade/ZRPublicUtilities.h), read afresh on
    // every call and written back atomically. Nothing when the key is absent
    // or the list cannot be read; a list that cannot be read or written is
    // left as it was and false is returned.
    static std::optional<std::string> isFristTime();
    static bool writeFristTime();
    static std::optional<std::string> getUpDataTimeStr();
    static bool writeUpDataTimeStr(const std::string& text);
};

// What an outline node is made from.
struct __TreeNodeData__ {
    int iDirectory = 0;
    int iDeleted = 0;
    long long llFileSystem = 0;
    IFileNode* pFileNode = nullptr;
};
