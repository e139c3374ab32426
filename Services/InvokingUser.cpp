#include "InvokingUser.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool ParseId(const char* text, unsigned long& value)
{
    if (!text || !*text)
        return false;
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, value);
    return ec == std::errc() && p == end;
}

}  // namespace

bool GetInvokingUser(uid_t& uid, gid_t& gid)
{
    if (geteuid() != 0)
        return false;
    unsigned long id = 0;
    bool fromSudo = false;
    if (!ParseId(std::getenv("PKEXEC_UID"), id)) {
        if (!ParseId(std::getenv("SUDO_UID"), id))
            return false;
        fromSudo = true;
    }
    uid = static_cast<uid_t>(id);
    gid = static_cast<gid_t>(-1);
    unsigned long g = 0;
    if (fromSudo && ParseId(std::getenv("SUDO_GID"), g)) {
        gid = static_cast<gid_t>(g);
        return true;
    }
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found)
        gid = found->pw_gid;
    return true;
}

void GiveToInvokingUser(int fd)
{
    uid_t uid;
    gid_t gid;
    if (fd >= 0 && GetInvokingUser(uid, gid)) {
        int rc = fchown(fd, uid, gid);
        (void)rc;
    }
}

std::string HomeOfUser(uid_t uid)
{
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}
