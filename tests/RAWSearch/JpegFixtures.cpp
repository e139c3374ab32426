#include "JpegFixtures.h"

#include <sys/wait.h>

#include <cstdlib>

#include "TestSupport.h"

const std::string& JpegFixtureDir()
{
    static const std::string dir = [] {
        const std::string script = std::string(VANTREL_SOURCE_DIR) + "/tests/fixtures/make_jpegs.sh";
        // Named after the script's contents, so a changed script makes new
        // pictures; the lock keeps parallel test processes from racing.
        const std::string out =
            std::string(VANTREL_BINARY_DIR) + "/jpeg-fixtures-" + FileDigest(script).substr(0, 12);
        const std::string command = "flock '" + out + ".lock' sh -c '[ -f \"" + out + "/.done\" ] || { rm -rf \"" +
                                    out + "\" && bash \"" + script + "\" \"" + out + "\" >/dev/null 2>&1 && touch \"" +
                                    out + "/.done\"; }'";
        const int status = std::system(command.c_str());
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
    }();
    return dir;
}

std::vector<unsigned char> JpegFixture(const std::string& name)
{
    const std::string bytes = ReadFileBytes(JpegFixtureDir() + "/" + name);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}
