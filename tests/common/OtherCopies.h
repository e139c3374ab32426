#pragma once
#include <chrono>
#include <functional>

// The check for another running copy of the application looks at every
// process of the machine, so a copy a person or another test started makes
// it true. Waits up to `limit` for such copies to end; false when one still
// runs then.
bool WaitUntilNoOtherCopyRuns(const std::function<bool()>& anotherCopyRuns,
                              std::chrono::milliseconds limit = std::chrono::seconds(20));
