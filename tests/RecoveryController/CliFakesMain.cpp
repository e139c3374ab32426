// vantrel-cli with six recording complete searchers in place of the real
// file systems. Each prints "type first count crc32" per block it is given;
// VANTREL_FAKES_NOOP=1 makes them do nothing per block (for timing).
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "CliCommands.h"
#include "ControllerFakes.h"
#include "DirectoryTreeBuilder.h"

int main(int argc, char** argv)
{
    const char* noop = std::getenv("VANTREL_FAKES_NOOP");
    FakeScanContext& fakes = FakeScan();
    fakes.readBlocks = !(noop && std::strcmp(noop, "1") == 0);
    fakes.printCrc = fakes.readBlocks;
    fakes.out = CliOut;  // standard output of the driver, apart from the engine's diagnostics
    fakes.addNodes = fakes.readBlocks;
    // No window waits for the first batch of a tree here.
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
    RegisterFakeCompleteSearchers();
    return VantrelCliMain(argc, argv);
}
