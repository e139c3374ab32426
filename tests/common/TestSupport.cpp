#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        ADD_FAILURE() << "mkdtemp failed";
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string RunTool(const std::string& command)
{
    std::string full = command + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "cannot run: " << command;
        return {};
    }
    std::string out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    int status = pclose(p);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "fixture command failed (status " << status << "): " << command << "\n" << out;
    return out;
}

std::string FileDigest(const std::string& path)
{
    std::string out = RunTool("sha256sum '" + path + "'");
    return out.substr(0, out.find(' '));
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
