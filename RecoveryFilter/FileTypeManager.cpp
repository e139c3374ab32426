#include "FileTypeManager.h"

#include <mutex>

namespace {

// The process-wide lists. Never destroyed: a searcher built while the process
// exits may still read them.
struct FileTypeLists {
    std::mutex lock;
    std::string strPics;
    std::string strMusic;
    std::string strMovies;
    std::string strArchvie;
    std::string strDocument;
};

FileTypeLists& ProcessLists()
{
    static auto* lists = new FileTypeLists;
    return *lists;
}

const std::string& ListOf(const std::map<int, std::string>& lists, int bit)
{
    static const std::string empty;
    auto it = lists.find(bit);
    return it == lists.end() ? empty : it->second;
}

}  // namespace

void CFileTypeManager::Initialze(std::map<int, std::string>& lists)
{
    FileTypeLists& p = ProcessLists();
    std::lock_guard<std::mutex> guard(p.lock);
    p.strPics = ListOf(lists, 1);
    p.strMusic = ListOf(lists, 2);
    p.strMovies = ListOf(lists, 4);
    p.strArchvie = ListOf(lists, 8);
    p.strDocument = ListOf(lists, 16);
}

int CFileTypeManager::Initialize()
{
    std::map<int, std::string> copy;
    {
        FileTypeLists& p = ProcessLists();
        std::lock_guard<std::mutex> guard(p.lock);
        copy = {{1, p.strPics}, {2, p.strMusic}, {4, p.strMovies}, {8, p.strArchvie}, {16, p.strDocument}};
    }
    return Initialize(copy);
}

int CFileTypeManager::Initialize(const std::map<int, std::string>& lists)
{
    Insert2Table(ListOf(lists, 1), FILE_TYPE_PICTURE);
    Insert2Table(ListOf(lists, 2), FILE_TYPE_MUSIC);
    Insert2Table(ListOf(lists, 4), FILE_TYPE_MOVIE);
    Insert2Table(ListOf(lists, 8), FILE_TYPE_ARCHIVE);
    Insert2Table(ListOf(lists, 16), FILE_TYPE_DOCUMENT);
    return 1;
}

void CFileTypeManager::Insert2Table(const std::string& list, FILE_TYPE_ID group)
{
    if (list.empty())
        return;
    size_t begin = 0;
    for (;;) {
        size_t end = list.find(';', begin);
        std::string piece = list.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        m_HashTable.InsertNode(piece.c_str(), group);
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
}

FILE_TYPE_ID CFileTypeManager::GetFileTypeID(const char* extension) const
{
    FILE_TYPE_ID group = FILE_TYPE_OTHER;
    if (!extension || !m_HashTable.FindNode(extension, group))
        return FILE_TYPE_OTHER;
    return group;
}
