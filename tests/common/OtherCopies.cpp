#include "OtherCopies.h"

#include <thread>

bool WaitUntilNoOtherCopyRuns(const std::function<bool()>& anotherCopyRuns, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (anotherCopyRuns()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}
