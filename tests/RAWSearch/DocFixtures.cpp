#include "DocFixtures.h"

#include <sys/wait.h>

#include <cstdlib>

#include "TestSupport.h"

const std::string& DocFixtureDir()
{
    static const std::string dir = [] {
        const std::string script = std::string(VANTREL_SOURCE_DIR) + "/tests/RAWSearch/make_docs.sh";
        // Named after the script's contents, so a changed script makes new
        // documents; the lock keeps parallel test processes from racing.
        const std::string out =
            std::string(VANTREL_BINARY_DIR) + "/doc-fixtures-" + FileDigest(script).substr(0, 12);
        const std::string command = "flock '" + out + ".lock' sh -c '[ -f \"" + out + "/.done\" ] || { rm -rf \"" +
                                    out + "\" && bash \"" + script + "\" \"" + out + "\" >/dev/null 2>&1 && touch \"" +
                                    out + "/.done\"; }'";
        const int status = std::system(command.c_str());
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
    }();
    return dir;
}

DocBytes DocFixture(const std::string& name)
{
    const std::string bytes = ReadFileBytes(DocFixtureDir() + "/" + name);
    return DocBytes(bytes.begin(), bytes.end());
}

void DocPutLE16(DocBytes& b, size_t at, uint16_t v)
{
    b.at(at) = static_cast<unsigned char>(v);
    b.at(at + 1) = static_cast<unsigned char>(v >> 8);
}

void DocPutLE32(DocBytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}

void DocPutLE64(DocBytes& b, size_t at, uint64_t v)
{
    DocPutLE32(b, at, static_cast<uint32_t>(v));
    DocPutLE32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

void DocPutUtf16(DocBytes& b, size_t at, const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i)
        DocPutLE16(b, at + 2 * i, static_cast<unsigned char>(text[i]));
    DocPutLE16(b, at + 2 * text.size(), 0);
}
