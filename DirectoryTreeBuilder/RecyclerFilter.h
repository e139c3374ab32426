// Recognises the folders and files of a Windows recycle bin by their names.
#pragma once

class IFileNode;

class CRecyclerFilter {
public:
    // A recycle-bin folder: directory attribute bit and one of the bin names,
    // compared without regard to ASCII case.
    static bool IsRecycleBinFolder(IFileNode* node);
    // The node itself or one of its linked ancestors is a recycle-bin folder.
    static bool IsRecycleBin(IFileNode* node);
    // A recycle information file: "$I..." or "#I...".
    static bool IsRecoverNode(IFileNode* node);
    // A recycled file: "$R..." or "#R...", except the names of file-system
    // metadata files that start the same way.
    static bool IsRecoverNodeEx(IFileNode* node);
};
