#include "CommandStatus.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

int RunCommandStatus(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        output.append(buf.data(), n);
    int status = pclose(p);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
