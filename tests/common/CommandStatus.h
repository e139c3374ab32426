// Commands whose failure is part of what a test checks, or depends on the
// machine (loop devices), unlike the fixture commands of RunTool.
#pragma once

#include <string>

// Runs command through /bin/sh with standard error joined to standard
// output; returns its exit status (-1 when it did not exit normally) and
// stores the output.
int RunCommandStatus(const std::string& command, std::string& output);
