#include "FileTypeLists.h"

std::map<int, std::string> GetDefaultFileTypeLists()
{
    return {
        {1, "jpg;png;gif;bmp;tif;psd;psp;ico;cur;emf;wmf;icns;svg;crw;cr2;nef;nrw;sr2;arw;raw;rw2;dng;raf;"
            "dcr;kdc;3fr;erf;mef;mrw;mdc;pef;ptx;srw;orf;x3f;cdr;cmx;wpg;webp;heic;avif"},
        {2, "mp3;wav;wma;aac;m4a;aiff;ape;ogg;mid;au"},
        {4, "avi;mov;mp4;m4v;3gp;asf;wmv;flv;rm;rmvb;mkv;mpg;m2ts;mxf;mlv;swf"},
        {8, "zip;rar;gz;tar;cab;lzh;sit;sitx;dmg;pkg;7z;jar;apk"},
        {16, "doc;docx;xls;xlsx;ppt;pptx;pdf;rtf;htm;one;pub;vsd;mpp;wpd;odt;ods;odp;pages;key;numbers;epub;"
             "mobi;txt;chm"},
    };
}
