#include "FileNameFilter.h"

std::string ApiStrFilterBadFileName(std::string name)
{
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    static const char kBad[] = {'\x01', '\\', '/', ':', '?', '"', '<', '>', '|', '*', '\r', '\n'};
    for (char& c : name) {
        for (char bad : kBad) {
            if (c == bad) {
                c = '_';
                break;
            }
        }
    }
    return name;
}
