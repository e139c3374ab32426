// The documents of make_docs.sh, made once for the whole build tree (tests
// run as separate processes) and shared by the document carving tests; and
// byte builders for crafted document structures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using DocBytes = std::vector<unsigned char>;

// The folder holding the documents; empty when the office suite or zip is
// missing.
const std::string& DocFixtureDir();
// One document's bytes by its name under that folder ("office/t.doc").
DocBytes DocFixture(const std::string& name);

#define REQUIRE_DOC_FIXTURES()                                                  \
    do {                                                                        \
        if (DocFixtureDir().empty())                                            \
            GTEST_SKIP() << "make_docs.sh needs the office suite and zip";      \
    } while (0)

void DocPutLE16(DocBytes& b, size_t at, uint16_t v);
void DocPutLE32(DocBytes& b, size_t at, uint32_t v);
void DocPutLE64(DocBytes& b, size_t at, uint64_t v);
// Writes text at offset at as UTF-16LE with a terminating zero character.
void DocPutUtf16(DocBytes& b, size_t at, const std::string& text);
