// Engine failures in words for people: the cause, the object it concerns and
// what to try, with the result code in brackets for reports.
#pragma once

#include <string>

#include "ResultCode.h"

// "OBJECT: SENTENCE [code 0x...]". error is the errno the failure came with
// (0 when none is known); its text is part of the sentence.
std::string CliDescribeResult(ResultCode code, const std::string& object, int error = 0);

// The cause alone (no object, no code), for grouping failures by reason.
std::string CliResultCause(ResultCode code, int error = 0);
