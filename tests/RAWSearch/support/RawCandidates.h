// Finished candidates as analysers hand them on, built in test code.
#pragma once

#include <memory>
#include <string>

#include "RawFileInfo.h"

// A candidate of a type with a size; name and time as an analyser sets them
// (the name through the name filter).
std::unique_ptr<CRawFileInfo> MakeCandidate(unsigned int type, long long start, long long size,
                                            const std::string& name = "", const std::string& time = "");

// The same carrying a metadata tag and its value.
std::unique_ptr<CRawFileInfo> MakeTagged(unsigned int type, int tag, const std::string& value,
                                         const std::string& name = "");
