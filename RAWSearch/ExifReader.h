// The whole-record EXIF reader: fills a tag_ExifInfo from one EXIF block in
// memory ("Exif" 00 00, then a TIFF structure), and the text rules that
// decide whether a camera make or model may name a carved file.
#pragma once

#include <string>
#include <string_view>

// What EXIF_process_EXIF fills: a fixed 1,280-byte record that the caller
// owns and zeroes before use. Texts are NUL-terminated.
struct tag_ExifInfo {
    // Bits 2, 4 and 8 would ask for copies of the thumbnail, the user
    // comment and the maker note; only positions are recorded.
    unsigned int dwOptions;
    char szVersion[5];         // tag 36864
    char szCameraMake[32];     // tag 271
    char szCameraModel[40];    // tag 272
    char szDateTime[20];       // tag 36867, "year:month:day hour:minute:second"
    char szDigitizedTime[20];  // tag 36868
    int iOrientation;          // 1..8, else 0
    int iFlashUsed;            // 1 when any of the flash value's bits 0-2 is set
    float fFocalLength;
    float fExposureTime;
    float fApertureFNumber;
    float fDistance;
    float fCCDWidth;
    float fExposureBias;
    int iLightSource;
    int iMeteringMode;
    int iExposureProgram;
    int iISOequivalent;  // values below 50 are multiplied by 200
    int iCompressionLevel;
    float fFocalplaneXRes;
    float fFocalplaneYRes;
    float fFocalplaneUnits;  // the unit's length in inches
    float fXResolution;
    float fYResolution;
    float fResolutionUnit;  // the unit's length in inches
    float fBrightness;
    unsigned int dwCommentsSize;
    unsigned int dwCommentsOffset;
    unsigned int dwMakerNoteSize;
    unsigned int dwMakerNoteOffset;  // inside the TIFF part
    unsigned int dwThumbnailOffset;
    unsigned int dwThumbnailSize;
    unsigned char reserved[1280 - 228];
};
static_assert(sizeof(tag_ExifInfo) == 1280, "tag_ExifInfo is a fixed 1,280-byte record");

// Selects the record that the next EXIF_process_EXIF fills.
void SetExitInfo(tag_ExifInfo* record);
// Reads the EXIF block at block (which begins with "Exif" 00 00) of length
// bytes. base and shift only turn recorded positions into the caller's
// coordinates. 1 when the block was read, 0 on any error (the reason is in
// EXIF_GetErrorString). Never reads outside the length bytes given.
int EXIF_process_EXIF(const unsigned char* base, unsigned int shift, unsigned char* block, unsigned int length);
// Copies the current record.
void GetExifInfo(tag_ExifInfo* out);
const char* EXIF_GetErrorString();
// A value of a TIFF field type in the current block's byte order; 0 for
// types without a numeric meaning.
double EXIF_ConvertAnyFormat(void* value, int type);
int EXIF_Get32s(void* value);

// Bytes per value of a TIFF field type; 0 for type 0 and types above 12.
unsigned int ExifFieldTypeSize(unsigned int type);

// A make or model may name a file only when every character is a letter,
// a digit, a space or one of , - . @ _
bool IsCameraText(std::string_view text);
// The text itself when IsCameraText accepts it, else "".
std::string CameraTextOrEmpty(std::string text);
// a-z become A-Z; nothing else changes.
std::string AsciiToUpper(std::string text);
