#include "RawAnalyserTable.h"

#include "ArchiveAnalysers.h"
#include "BookHelpFontAnalysers.h"
#include "DatabaseAnalysers.h"
#include "AudioContainerAnalysers.h"
#include "DesignProjectAnalysers.h"
#include "DrawingAnalysers.h"
#include "DwgAnalyser.h"
#include "DxfAnalyser.h"
#include "GifAnalyser.h"
#include "JpegAnalyser.h"
#include "MailAnalysers.h"
#include "Model3DSAnalyser.h"
#include "MovAnalyser.h"
#include "Mp3Analyser.h"
#include "OleAnalyser.h"
#include "OtherCameraRawAnalysers.h"
#include "PackageAnalysers.h"
#include "PNGAnalyser.h"
#include "PdfAnalyzer.h"
#include "PsdAnalyser.h"
#include "PspAnalyser.h"
#include "SmallPictureAnalysers.h"
#include "SvgAnalyser.h"
#include "TextDocAnalysers.h"
#include "TiffAnalyser.h"
#include "VideoContainerAnalysers.h"
#include "ZipAnalyser.h"

IRawFileAnalyser* CreateNullAnalyser(unsigned int analyserId)
{
    return new NullAnalyser(analyserId);
}

namespace {

// One analyser object per row. A format's analyser replaces
// CreateNullAnalyser in its rows when it is built.
const RawAnalyserRow kRows[] = {
    // Four-byte keys: the first four bytes of a sector, little-endian.
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xE0), &CreateJpegAnalyzer, 35},  // BruteForce::JpegAnalyzer (special probe)
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xE1), &CreateJpegAnalyzer, 35},  // BruteForce::JpegAnalyzer (special probe)
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xDB), &CreateJpegAnalyzer, 35},  // BruteForce::JpegAnalyzer (special probe)
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xEE), &CreateJpegAnalyzer, 35},  // BruteForce::JpegAnalyzer (special probe)
    {RAW_KEY_4, Key4(0x25, 0x50, 0x44, 0x46), &CreatePdfAnalyzer, 50},  // BruteForce::PdfAnalyzer
    {RAW_KEY_4, Key4(0x4D, 0x4D, 0x00, 0x2A), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x49, 0x49, 0x2A, 0x00), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x49, 0x49, 0x55, 0x00), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x49, 0x49, 0x52, 0x4F), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x49, 0x49, 0x52, 0x53), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x46, 0x55, 0x4A, 0x49), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x4D, 0x4D, 0x4F, 0x52), &CreateTiffAnalyzer, 64},  // BruteForce::TiffAnalyzer
    {RAW_KEY_4, Key4(0x49, 0x49, 0x1A, 0x00), &CreateCRWAnalyser, 18},  // Brance::CRWAnalyser
    {RAW_KEY_4, Key4(0x4D, 0x4D, 0x1A, 0x00), &CreateCRWAnalyser, 18},  // Brance::CRWAnalyser
    {RAW_KEY_4, Key4(0x42, 0x5A, 0x68, 0x31), &CreateDMGAnalyser, 113},  // Brance::DMGAnalyser
    {RAW_KEY_4, Key4(0x46, 0x4F, 0x56, 0x62), &CreateX3FAnalyser, 108},  // Brance::X3FAnalyser
    {RAW_KEY_4, Key4(0x00, 0x00, 0x01, 0xB3), &CreateMPGAnalyser, 109},  // Brance::MPGAnalyser
    {RAW_KEY_4, Key4(0x00, 0x00, 0x01, 0xBA), &CreateMPGAnalyser, 109},  // Brance::MPGAnalyser
    {RAW_KEY_4, Key4(0x4F, 0x67, 0x67, 0x53), &CreateOggAnalyser, 82},  // Brance::OGGAnalyser
    {RAW_KEY_4, Key4(0x2E, 0x52, 0x4D, 0x46), &CreateRMAnalyser, 94},  // Brance::RM_RMVBAnalyser
    {RAW_KEY_4, Key4(0x3C, 0x3F, 0x78, 0x6D), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    {RAW_KEY_4, Key4(0xEF, 0xBB, 0xBF, 0x3C), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    {RAW_KEY_4, Key4(0xCD, 0x01, 0x00, 0x00), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    {RAW_KEY_4, Key4(0x7C, 0x73, 0x76, 0x67), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    // Drawings that start with their root element, without a declaration.
    {RAW_KEY_4, Key4(0x3C, 0x73, 0x76, 0x67), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    {RAW_KEY_4, Key4(0x42, 0x43, 0x46, 0x5A), &CreateSVGAnalyser, 91},  // Brance::SVGAnalyser
    {RAW_KEY_4, Key4(0x30, 0x26, 0xB2, 0x75), &CreateAsfAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CAsfAnalyser
    {RAW_KEY_4, Key4(0x20, 0x20, 0x30, 0x0D), &CreateDXFAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CDXFAnalyser (special probe)
    {RAW_KEY_4, Key4(0x4D, 0x41, 0x43, 0x20), &CreateAPEAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CAPEAnalyser
    {RAW_KEY_4, Key4(0x1C, 0x01, 0x00, 0x00), &CreateFH11Analyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CFH11Analyser
    {RAW_KEY_4, Key4(0xC5, 0xD0, 0xD3, 0xC6), &CreateEPSAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CEPSAnalyser
    {RAW_KEY_4, Key4(0x41, 0x43, 0x31, 0x30), &CreateDWGAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CDWGAnalyser
    {RAW_KEY_4, Key4(0x47, 0x49, 0x46, 0x38), &CreateGifAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CGifAnalyser
    {RAW_KEY_4, Key4(0x4D, 0x54, 0x68, 0x64), &CreateMIDAnalyser, 38},  // RawSpeed::MIDAnalyser
    {RAW_KEY_4, Key4(0x89, 0x50, 0x4E, 0x47), &CreatePNGAnalyser, 51},  // RawSpeed::PNGAnalyser
    {RAW_KEY_4, Key4(0x38, 0x42, 0x50, 0x53), &CreatePSDAnalyser, 54},  // RawSpeed::PSDAnalyser
    {RAW_KEY_4, Key4(0x7B, 0x5C, 0x72, 0x74), &CreateRTFAnalyser, 60},  // RawSpeed::RTFAnalyser
    {RAW_KEY_4, Key4(0x50, 0x61, 0x69, 0x6E), &CreatePSPAnalyser, 55},  // RawSpeed::PSPAnalyser
    {RAW_KEY_4, Key4(0x52, 0x61, 0x72, 0x21), &CreateRARAnalyser, 58},  // RawSpeed::RARAnalyser
    {RAW_KEY_4, Key4(0xE4, 0x52, 0x5C, 0x7B), &CreateOneAnalyser, 49},  // RawSpeed::OneAnalyser
    {RAW_KEY_4, Key4(0x77, 0x70, 0x67, 0x00), &CreateWpgAnalyser, 69},  // RawSpeed::WpgAnalyser
    {RAW_KEY_4, Key4(0x4A, 0x4D, 0x46, 0x36), &CreateDbxAnalyser, 21},  // RawSpeed::DbxAnalyser
    {RAW_KEY_4, Key4(0xCF, 0xAD, 0x12, 0xFE), &CreateDbxAnalyser, 21},  // RawSpeed::DbxAnalyser
    {RAW_KEY_4, Key4(0xF7, 0x89, 0x34, 0x2C), &CreateDbxAnalyser, 21},  // RawSpeed::DbxAnalyser
    {RAW_KEY_4, Key4(0x0F, 0x53, 0x49, 0x42), &CreateSIBAnalyser, 134},  // RawSpeed::SIBAnalyser
    {RAW_KEY_4, Key4(0x57, 0x45, 0x42, 0x42), &CreateSITAnalyser, 92},  // RawSpeed::SITAnalyser
    {RAW_KEY_4, Key4(0x53, 0x74, 0x75, 0x66), &CreateSITAnalyser, 92},  // RawSpeed::SITAnalyser
    {RAW_KEY_4, Key4(0xFE, 0xED, 0xFE, 0xED), &CreateJKSAnalyser, 135},  // RawSpeed::JKSAnalyser
    {RAW_KEY_4, Key4(0x50, 0x57, 0x53, 0x33), &CreatePSAFE3Analyser, 136},  // RawSpeed::PSAFE3Analyser
    {RAW_KEY_4, Key4(0x2D, 0x69, 0x6E, 0x2D), &CreateNGRRAnalyser, 137},  // RawSpeed::NGRRAnalyser
    {RAW_KEY_4, Key4(0x06, 0x0E, 0x2B, 0x34), &CreateMxfAnalyser, 142},  // RawSpeed::MxfAnalyser
    {RAW_KEY_4, Key4(0x52, 0x49, 0x46, 0x58), &CreateAEPAnalyser, 144},  // RawSpeed::AEPAnalyser
    {RAW_KEY_4, Key4(0x4D, 0x4C, 0x56, 0x49), &CreateMLvAnalyser, 146},  // RawSpeed::MLvAnalyser
    {RAW_KEY_4, Key4(0x46, 0x4F, 0x52, 0x4D), &CreateAIFAnalyser, 80},  // CFileAIFAnalyzer
    {RAW_KEY_4, Key4(0x50, 0x4B, 0x03, 0x04), &CreateZIPAnalyser, 72},  // FileZIPAnalyser
    {RAW_KEY_4, Key4(0xFF, 0x57, 0x50, 0x43), &CreateWPDAnalyser, 68},  // FileWPDAnalyser
    {RAW_KEY_4, Key4(0x01, 0x00, 0x09, 0x00), &CreateWMFAnalyser, 70},  // FileWMFAnalyser
    {RAW_KEY_4, Key4(0xD7, 0xCD, 0xC6, 0x9A), &CreateWMFAnalyser, 70},  // FileWMFAnalyser
    {RAW_KEY_4, Key4(0x00, 0x01, 0x00, 0x00), &CreateTTFAnalyser, 65},  // FileTTFAnalyser
    {RAW_KEY_4, Key4(0x52, 0x49, 0x46, 0x46), &CreateRIFFAnalyser, 59},  // FileRIFFAnalyser
    {RAW_KEY_4, Key4(0x21, 0x42, 0x44, 0x4E), &CreatePSTAnalyser, 56},  // FilePSTAnalyser
    {RAW_KEY_4, Key4(0xD0, 0xCF, 0x11, 0xE0), &CreateOLEAnalyser, 48},  // FileOLEAnalyser
    {RAW_KEY_4, Key4(0xDB, 0xA5, 0x2D, 0x00), &CreateLowDocAnalyser, 23},  // FileLowDocAnalyser
    {RAW_KEY_4, Key4(0x94, 0xA6, 0x2E, 0x00), &CreateLowDocAnalyser, 23},  // FileLowDocAnalyser
    {RAW_KEY_4, Key4(0x00, 0x00, 0x01, 0x00), &CreateICOAnalyser, 34},  // FileICOAnalyser
    {RAW_KEY_4, Key4(0x00, 0x00, 0x02, 0x00), &CreateICOAnalyser, 34},  // FileICOAnalyser
    {RAW_KEY_4, Key4(0x3F, 0x5F, 0x03, 0x00), &CreateHLPAnalyser, 32},  // FileHLPAnalyser
    {RAW_KEY_4, Key4(0x43, 0x50, 0x54, 0x37), &CreateCPTAnalyser, 17},  // FileCPTAnalyser
    {RAW_KEY_4, Key4(0x43, 0x50, 0x54, 0x38), &CreateCPTAnalyser, 17},  // FileCPTAnalyser
    {RAW_KEY_4, Key4(0x43, 0x50, 0x54, 0x39), &CreateCPTAnalyser, 17},  // FileCPTAnalyser
    {RAW_KEY_4, Key4(0x4D, 0x53, 0x43, 0x46), &CreateCABAnalyser, 12},  // FileCABAnalyser
    {RAW_KEY_4, Key4(0x6D, 0x73, 0x63, 0x66), &CreateCABAnalyser, 12},  // FileCABAnalyser
    {RAW_KEY_4, Key4(0x2E, 0x73, 0x6E, 0x64), &CreateAUAnalyser, 9},  // FileAUAnalyser
    {RAW_KEY_4, Key4(0x1A, 0x45, 0xDF, 0xA3), &CreateMKVAnalyser, 96},  // FileMKVAnalyser
    {RAW_KEY_4, Key4(0x49, 0x54, 0x53, 0x46), &CreateCHMAnalyser, 14},  // FileCHMAnalyser
    {RAW_KEY_4, Key4(0x00, 0x4D, 0x52, 0x4D), &CreateMRWAnalyser, 102},  // FileMRWAnalyser
    {RAW_KEY_4, Key4(0x53, 0x51, 0x4C, 0x69), &CreateFCPEvtAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CFCPEvtAnalyser
    {RAW_KEY_4, Key4(0x68, 0x64, 0x66, 0x6D), &CreateITLAnalyser, 117},  // FileITLAnalyser
    {RAW_KEY_4, Key4(0x78, 0x61, 0x72, 0x21), &CreatePKGAnalyser, 119},  // FilePKGAnalyser
    {RAW_KEY_4, Key4(0x7F, 0x50, 0x4B, 0x47), &CreatePKGAnalyser, 119},  // FilePKGAnalyser
    {RAW_KEY_4, Key4(0x69, 0x63, 0x6E, 0x73), &CreateICNSAnalyser, 122},  // FileICNSAnalyser
    {RAW_KEY_4, Key4(0x46, 0x72, 0x6F, 0x6D), &CreateMboxAnalyser, 126},  // FileMboxAnalyser
    // Two-byte keys, asked in this order when several share a key.
    {RAW_KEY_2, Key2(0x25, 0x21), &CreatePdfAnalyzer, 50},  // BruteForce::PdfAnalyzer
    {RAW_KEY_2, Key2(0x25, 0x21), &CreateEPSAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CEPSAnalyser
    {RAW_KEY_2, Key2(0x49, 0x44), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF2), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF3), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF4), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF5), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF6), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF7), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFA), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFB), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFC), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFD), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFE), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xFF), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE2), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE3), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE4), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE5), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE6), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xE7), &CreateMP3Analyzer, 43},  // BruteForce::MP3Analyzer (special probe)
    {RAW_KEY_2, Key2(0x39, 0x39), &CreateDXFAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CDXFAnalyser (special probe)
    {RAW_KEY_2, Key2(0x00, 0x00), &CreateMovAnalyzer, 42},  // BruteForce::MovAnalyzer
    {RAW_KEY_2, Key2(0x00, 0x00), &CreateMp4Analyzer, 44},  // BruteForce::Mp4Analyzer
    {RAW_KEY_2, Key2(0x00, 0x00), &CreateC3GPAnalyser, 2},  // BruteForce::C3GPAnalyser
    {RAW_KEY_2, Key2(0xFF, 0xF1), &CreateADTSAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CADTSAnalyser (special probe)
    {RAW_KEY_2, Key2(0xFF, 0xF9), &CreateADTSAnalyser, RAW_ANALYSER_ID_PER_FILE},  // BruteForce::CADTSAnalyser (special probe)
    {RAW_KEY_2, Key2(0x1F, 0x8B), &CreateGZAnalyzer, 31},  // RawSpeed::GZAnalyzer
    {RAW_KEY_2, Key2(0x00, 0x01), &CreateMDBAnalyser, 39},  // RawSpeed::CMDBAnalyser
    {RAW_KEY_2, Key2(0x46, 0x4C), &CreateFLVAnalyser, 90},  // Brance::FLVAnalyser
    {RAW_KEY_2, Key2(0x3C, 0x68), &CreateHTMLAnalyser, 33},  // RawSpeed::HTMLAnalyser
    {RAW_KEY_2, Key2(0x3C, 0x48), &CreateHTMLAnalyser, 33},  // RawSpeed::HTMLAnalyser
    {RAW_KEY_2, Key2(0x3C, 0x21), &CreateHTMLAnalyser, 33},  // RawSpeed::HTMLAnalyser
    {RAW_KEY_2, Key2(0xFF, 0xFE), &CreateHTMLAnalyser, 33},  // RawSpeed::HTMLAnalyser
    {RAW_KEY_2, Key2(0x4D, 0x4D), &Create3DSAnalyser, 1},  // RawSpeed::New3DSAnalyser
    {RAW_KEY_2, Key2(0x00, 0x01), &CreateMDBAnalyser, 39},  // RawSpeed::CMDBAnalyser
    {RAW_KEY_2, Key2(0x42, 0x4D), &CreateBMPAnalyser, 11},  // FileBMPAnalyser
    {RAW_KEY_2, Key2(0xFF, 0xFE), &CreateUnicodeHTMAnalyser, 33},  // FileUnicodeHTMAnalyser
    {RAW_KEY_2, Key2(0x4D, 0x53), &CreateMNYAnalyser, 40},  // FileMNYAnalyser
    {RAW_KEY_2, Key2(0x46, 0x57), &CreateSWFAnalyser, 62},  // FileSWFAnalyser
    {RAW_KEY_2, Key2(0x43, 0x57), &CreateSWFAnalyser, 62},  // FileSWFAnalyser
    {RAW_KEY_2, Key2(0x75, 0x73), &CreateTARAnalyser, 63},  // RawSpeed::TARAnalyser
    // Probed on every sector, in this order.
    {RAW_EVERY_SECTOR, 0, &CreateLZHAnalyser, 36},  // Brance::LZHAnalyser
    {RAW_EVERY_SECTOR, 0, &CreateEMFAnalyser, 26},  // FileEMFAnalyser
    {RAW_EVERY_SECTOR, 0, &CreateMovAnalyzer, 42},  // BruteForce::MovAnalyzer
    {RAW_EVERY_SECTOR, 0, &CreateInddAnalyser, 127},  // RawSpeed::InddAnalyser
    {RAW_EVERY_SECTOR, 0, &Create3DSAnalyser, 1},  // RawSpeed::New3DSAnalyser
    {RAW_EVERY_SECTOR, 0, &CreateTARAnalyser, 63},  // RawSpeed::TARAnalyser
    {RAW_EVERY_SECTOR, 0, &CreateM2TSAnalyser, 129},  // BruteForce::CM2TSAnalyser
    {RAW_EVERY_SECTOR, 0, &CreateMOBIAnalyser, 133},  // RawSpeed::MOBIAnalyser
    {RAW_EVERY_SECTOR, 0, &CreatePSAFE3Analyser, 136},  // RawSpeed::PSAFE3Analyser
};

}  // namespace

std::span<const RawAnalyserRow> GetRawAnalyserRows()
{
    return std::span<const RawAnalyserRow>(kRows);
}
