// The extension of every carved file type, indexed by RAW_FILE_TYPE.
#pragma once

constexpr unsigned int RAW_FILE_TYPE_SLOTS = 2000;
constexpr unsigned int RAW_FILE_TYPE_USED = 153;

// NUL-padded extensions in their stored case; slots from 153 on are empty.
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
    RAW_TYPE_SQLITE = 147,
    RAW_TYPE_WEBP = 148,
    RAW_TYPE_HEIC = 149,
    RAW_TYPE_AVIF = 150,
    RAW_TYPE_JAR = 151,
    RAW_TYPE_APK = 152,
};

// The extension of a type index, "" past the used slots.
const char* GetRawFileExt(unsigned int type);
