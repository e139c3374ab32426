// One libFuzzer program: VANTREL_FUZZ_ENTRY names the entry point it drives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The engine log goes to the work folder: a private temporary one, not
    // the folder of the program, unless the caller chose one.
    if (!std::getenv("VANTREL_WORK_DIR")) {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrel-fuzz-XXXXXX";
        if (::mkdtemp(folder.data()))
            ::setenv("VANTREL_WORK_DIR", folder.c_str(), 1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return VANTREL_FUZZ_ENTRY(data, size);
}
