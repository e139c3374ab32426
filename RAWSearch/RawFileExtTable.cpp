#include "RawFileExtTable.h"

// Slot 0 is the type of a candidate whose analyser sets none.
char g_s_strFileExtName[RAW_FILE_TYPE_SLOTS][9] = {
    /*   0 */ "Raw", "3DS", "3GP", "ADP", "ANI", "AI", "ASF", "WMA", "WMV", "AU",
    /*  10 */ "AVI", "BMP", "CAB", "CDR", "CHM", "CLK", "CMX", "CPT", "CRW", "CSL",
    /*  20 */ "CUR", "DBX", "DLL", "DOC", "DWG", "DXF", "EMF", "EPS", "EXE", "FH11",
    /*  30 */ "GIF", "GZ", "HLP", "HTM", "ICO", "JPG", "LZH", "MAX", "MID", "MDB",
    /*  40 */ "MNY", "MOF", "MOV", "MP3", "MP4", "M4A", "M4V", "MPP", "OLE", "ONE",
    /*  50 */ "PDF", "PNG", "PPT", "PUB", "PSD", "PSP", "PST", "QPW", "RAR", "RIFF",
    /*  60 */ "RTF", "SHW", "SWF", "TAR", "TIF", "TTF", "VSD", "WAV", "WPD", "WPG",
    /*  70 */ "WMF", "XLS", "ZIP", "DOCX", "XLSX", "PPTX", "ACCDB", "NEF", "NRW", "AAC",
    /*  80 */ "AIFF", "APE", "OGG", "CR2", "SR2", "ARW", "RAW", "RW2", "DNG", "RAF",
    /*  90 */ "FLV", "SVG", "SIT", "SITX", "RM", "RMVB", "MKV", "DCR", "KDC", "3FR",
    /* 100 */ "ERF", "MEF", "MRW", "MDC", "PEF", "PTX", "SRW", "ORF", "X3F", "MPG",
    /* 110 */ "PAGES", "KEY", "NUMBERS", "DMG", "EPUB", "FCPEVENT", "EMLX", "ITL", "IPA", "pkg",
    /* 120 */ "OLM", "ABCDDB", "icns", "ODT", "ODS", "ODP", "MBOX", "INDD", "MUSE", "M2TS",
    /* 130 */ "GPX", "PLIST", "IBA", "MOBI", "SIB", "JKS", "PSAFE3", "NGRR", "TREC", "ENEX",
    /* 140 */ "IPT", "AAF", "MXF", "SKETCH", "AEP", "TAX", "MLV", "SQLITE", "WEBP", "HEIC",
    /* 150 */ "AVIF", "JAR", "APK",
};

const char* GetRawFileExt(unsigned int type)
{
    return type < RAW_FILE_TYPE_SLOTS ? g_s_strFileExtName[type] : "";
}
