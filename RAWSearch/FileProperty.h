// Document metadata that the carving readers take out of a file's own
// information block (PDF Info dictionary, OLE summary information, office
// core properties) to name, date and label the carved file.
#pragma once

#include <string>

// Eight text strings, byte strings (UTF-8 where a reader converted them), in
// this order. Copied by value. The PDF reader leaves the first and the last
// field empty; they are there for the other readers that share the record.
struct FileProperty {
    std::string strSpare1;
    std::string strTitle;
    std::string strProducer;
    std::string strCreator;
    std::string strAuthor;
    std::string strCreationDate;
    std::string strModificationDate;
    std::string strSpare2;
};
