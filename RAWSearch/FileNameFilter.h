// The filter every name and label taken from carved file contents passes.
#pragma once

#include <string>

// Removes trailing spaces and replaces each character that cannot stand in
// a file name (0x01, \ / : ? " < > | * CR LF) by "_". Leading spaces stay.
std::string ApiStrFilterBadFileName(std::string name);
