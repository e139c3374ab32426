// The extension of every carved file type, indexed by RAW_FILE_TYPE.
#pragma once

constexpr unsigned int RAW_FILE_TYPE_SLOTS = 2000;
constexpr unsigned int RAW_FILE_TYPE_USED = 147;

// NUL-padded extensions in their stored case; slots from 147 on are empty.
extern char g_s_strFileExtName[RAW_FILE_TYPE_SLOTS][9];

// Type indices the RAW code itself branches on.
enum : unsigned int {
    RAW_TYPE_RAW = 0,
    RAW_TYPE_DOC = 23,
    RAW_TYPE_PPT = 52,
    RAW_TYPE_XLS = 71,
    RAW_TYPE_DOCX = 73,
    RAW_TYPE_XLSX = 74,
    RAW_TYPE_PPTX = 75,
};

// The extension of a type index, "" past the used slots.
const char* GetRawFileExt(unsigned int type);
