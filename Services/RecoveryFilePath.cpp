#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BridgeUtil.h"
#include "BridgeUtilInternal.h"
#include "IFileNode.h"
#include "InvokingUser.h"

namespace {

constexpr size_t kNameMax = 255;
constexpr size_t kSuffixRoom = 5;      // "_0001"
constexpr size_t kMaxExtension = 32;   // longer tails are no extension
constexpr int kMaxNumberTries = 100000;

// An owned descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_fd = o.m_fd;
            o.m_fd = -1;
        }
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// Where the extension of a component starts: its last dot, unless that is
// the first character or the tail is too long to be an extension.
size_t ExtensionStart(const std::string& name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxExtension)
        return name.size();
    return dot;
}

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string CutOnCharacter(const std::string& text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string NumberedName(const std::string& name, int number)
{
    size_t ext = ExtensionStart(name);
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "_%04d", number);
    return name.substr(0, ext) + suffix + name.substr(ext);
}

// Enters (creating when missing) the folder name below dir, never through a
// symbolic link. Folders we create go to the invoking user.
Fd EnterFolder(int dir, const std::string& name)
{
    bool created = mkdirat(dir, name.c_str(), 0777) == 0;
    if (!created && errno != EEXIST)
        return Fd();
    Fd fd(openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid() && created)
        GiveToInvokingUser(fd.get());
    return fd;
}

// The per-root folder: the stored number for this type, or the first
// number whose name is not taken (by anything, a link included).
bool EnterRootFolder(int dest, _tagSearcherType type, ICreateDirIndex* dirIndex, std::string& name, Fd& out)
{
    const char* prefix = ZRUIPublic::GetFileSystemStrByType(type);
    char text[64];
    int index = dirIndex ? dirIndex->GetCreateDirIndex(type) : 0;
    if (index >= 1) {
        std::snprintf(text, sizeof(text), "%s%04d", prefix, index);
        name = text;
        out = EnterFolder(dest, name);
        return out.valid();
    }
    for (int n = 1; n <= kMaxNumberTries; ++n) {
        std::snprintf(text, sizeof(text), "%s%04d", prefix, n);
        if (mkdirat(dest, text, 0777) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        Fd fd(openat(dest, text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid())
            return false;
        GiveToInvokingUser(fd.get());
        if (dirIndex)
            dirIndex->SetCreateDirIndex(type, n);
        name = text;
        out = std::move(fd);
        return true;
    }
    return false;
}

char* CopyOut(const std::string& text)
{
    char* p = static_cast<char*>(std::malloc(text.size() + 1));
    if (p)
        std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

}  // namespace

std::string MakeSafePathComponent(const std::string& raw)
{
    std::string name = raw;
    // A slash would split the name, a control character (a newline, an
    // escape sequence) would reach terminals and scripts that list it.
    for (char& c : name)
        if (c == '/' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7f)
            c = '_';
    if (name.empty())
        return "_";
    if (name[0] == '.')
        name.insert(name.begin(), '_');
    const size_t max = kNameMax - kSuffixRoom;
    if (name.size() <= max)
        return name;
    size_t ext = ExtensionStart(name);
    std::string extension = name.substr(ext);
    return CutOnCharacter(name.substr(0, ext), max - extension.size()) + extension;
}

char* CreateRecoveryFilePathByNode(void* pNode, const char* destination, ICreateDirIndex* dirIndex)
{
    auto* node = static_cast<IFileNode*>(pNode);
    if (!node || !destination || !*destination || !node->IsNodeShow())
        return nullptr;
    _tagSearcherType type = ZRCPPPublic::instance().GetNodeSearcheType(node);
    if (type == SEARCHER_NONE)
        return nullptr;

    // The destination is the user's choice: it may be reached through links
    // and is created when missing. Below it nothing is followed.
    std::string path = destination;
    if (path.back() != '/')
        path += '/';
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return nullptr;

    std::string rootName;
    Fd root;
    if (!EnterRootFolder(dir.get(), type, dirIndex, rootName, root))
        return nullptr;
    path += rootName;
    dir = std::move(root);

    std::vector<std::string> parts = bridge_detail::NodePathComponents(node);
    const bool isFolder = node->IsDirectory() != 0;
    const size_t folders = isFolder ? parts.size() : parts.size() - 1;
    for (size_t i = 0; i < folders; ++i) {
        std::string component = MakeSafePathComponent(parts[i]);
        Fd next = EnterFolder(dir.get(), component);
        if (!next.valid())
            return nullptr;
        dir = std::move(next);
        path += "/" + component;
    }
    if (isFolder)
        return nullptr;

    // The file is created here, exclusively, so the name is ours; the writer
    // then truncates it.
    const std::string base = MakeSafePathComponent(parts.back());
    std::string name = base;
    for (int k = 1;; ++k) {
        Fd file(openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.valid()) {
            GiveToInvokingUser(file.get());
            break;
        }
        if (errno != EEXIST || k > kMaxNumberTries)
            return nullptr;
        name = NumberedName(base, k);
    }
    return CopyOut(path + "/" + name);
}
