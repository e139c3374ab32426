// Names of carved files: the stem from the contents, the per-type counter
// and the extension.
#include <cstdio>

#include "BridgeUtil.h"
#include "RAWFileNode.h"
#include "RawFileExtTable.h"
#include "TextUtil.h"

std::vector<int> g_s_CountPerFileTypeVector(RAW_FILE_TYPE_SLOTS, 0);

std::string CutRawName(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::string cut(maxBytes + 1, '\0');
    cut.resize(CopyTextField(cut.data(), cut.size(), text.c_str()));
    return cut;
}

std::string CRAWFileNode::BuildFileName(unsigned short typeIndex, const char* stem)
{
    if (!stem)
        return std::string();
    const unsigned int type = typeIndex < RAW_FILE_TYPE_SLOTS ? typeIndex : static_cast<unsigned int>(RAW_TYPE_RAW);
    if (g_s_CountPerFileTypeVector.size() < RAW_FILE_TYPE_SLOTS)
        g_s_CountPerFileTypeVector.resize(RAW_FILE_TYPE_SLOTS, 0);
    int& counter = g_s_CountPerFileTypeVector[type];

    char suffix[64];
    std::snprintf(suffix, sizeof(suffix), "%03d.%s", counter, GetRawFileExt(type));
    ++counter;

    std::string name;
    if (*stem && isValidString(stem)) {
        name = stem;
        // The tree builder refuses files whose names begin with ".".
        if (name[0] == '.')
            name.insert(0, "_");
        name = CutRawName(name, RAW_NAME_MAX_BYTES - std::string(suffix).size());
    } else {
        name = "FILE";
    }
    return name + suffix;
}
