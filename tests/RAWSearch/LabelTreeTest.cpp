#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "LabelRawTreeBuilder.h"
#include "RAWFileManager.h"
#include "RawCandidates.h"
#include "RawSearchState.h"
#include "RecordingTreeBuilder.h"

namespace {

using Handed = std::tuple<std::string, long long, long long>;  // name, id, parent

std::vector<Handed> HandedSince(const RecordingTreeBuilder& b, size_t from)
{
    std::vector<Handed> out;
    for (size_t i = from; i < b.Accepted().size(); ++i) {
        const auto& e = b.Accepted()[i];
        EXPECT_EQ(e.type, SEARCHER_LABEL_RAW) << e.name;
        out.emplace_back(e.name, e.id, e.parentId);
    }
    return out;
}

// One search's worth of tagged files through managers of three groups that
// share the searcher's label builder.
std::vector<Handed> RunScenario(RecordingTreeBuilder& b)
{
    ResetRawSearchState();
    CLABELRAWTreeBuilder labels;
    CRAWFileManager pictures(1, 2, &b, &labels);
    CRAWFileManager documents(1, 6, &b, &labels);
    CRAWFileManager movies(1, 4, &b, &labels);

    size_t mark = 0;
    EXPECT_EQ(pictures.AddRawFileInfo(MakeTagged(35, RAW_TAG_CAMERA, "CANON").get()), 1);
    EXPECT_EQ(HandedSince(b, mark), (std::vector<Handed>{{"FILE000.JPG", 2002, 2001},
                                                         {"CANON", 2001, -15},
                                                         {"Camera", -15, 1000}}));
    mark = b.Accepted().size();
    EXPECT_EQ(pictures.AddRawFileInfo(MakeTagged(35, RAW_TAG_CAMERA, "CANON").get()), 1);
    EXPECT_EQ(HandedSince(b, mark), (std::vector<Handed>{{"FILE001.JPG", 2003, 2001}}));

    // Another group's camera files share the one "Camera" folder.
    mark = b.Accepted().size();
    EXPECT_EQ(movies.AddRawFileInfo(MakeTagged(42, RAW_TAG_CAMERA, "NIKON", "clip").get()), 1);
    EXPECT_EQ(HandedSince(b, mark), (std::vector<Handed>{{"clip000.MOV", 2005, 2004}, {"NIKON", 2004, -15}}));

    // Word documents of one author share a folder; a workbook gets its own.
    mark = b.Accepted().size();
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(23, RAW_TAG_OFFICE, "Alice", "Minutes").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(73, RAW_TAG_OFFICE, "Alice").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(74, RAW_TAG_OFFICE, "Alice").get()), 1);
    EXPECT_EQ(HandedSince(b, mark), (std::vector<Handed>{{"Minutes000.DOC", 2007, 2006},
                                                         {"Alice", 2006, -12},
                                                         {"Word", -12, -13},
                                                         {"Office", -13, 1000},
                                                         {"FILE000.DOCX", 2008, 2006},
                                                         {"FILE000.XLSX", 2010, 2009},
                                                         {"Alice", 2009, -11},
                                                         {"Excel", -11, -13}}));

    // Equal PDF and AI values, and an AI author called "Word", are folders of
    // their own kind.
    mark = b.Accepted().size();
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(50, RAW_TAG_PDF, "Same").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(5, RAW_TAG_AI, "Same").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(5, RAW_TAG_AI, "Word").get()), 1);
    EXPECT_EQ(HandedSince(b, mark), (std::vector<Handed>{{"FILE000.PDF", 2012, 2011},
                                                         {"Same", 2011, -7},
                                                         {"PDF", -7, 1000},
                                                         {"FILE000.AI", 2014, 2013},
                                                         {"Same", 2013, -6},
                                                         {"AI", -6, 1000},
                                                         {"FILE001.AI", 2016, 2015},
                                                         {"Word", 2015, -6}}));
    std::vector<Handed> all;
    for (const auto& e : b.Accepted())
        all.emplace_back(e.name, e.id, e.parentId);
    return all;
}

TEST(rawLabelTree, FoldersByTagAndLabel)
{
    RecordingTreeBuilder b;
    const auto first = RunScenario(b);
    EXPECT_TRUE(b.InTree(SEARCHER_RAW).empty());

    // A second search in the same process numbers alike.
    RecordingTreeBuilder again;
    EXPECT_EQ(RunScenario(again), first);
}

// Candidates the label tree has no folder for are filed in "(RAW Files)"
// rather than lost.
TEST(rawLabelTree, UnfileableTagsGoToTheRawTree)
{
    ResetRawSearchState();
    RecordingTreeBuilder b;
    CLABELRAWTreeBuilder labels;
    CRAWFileManager documents(1, 6, &b, &labels);
    CRAWFileManager music(1, 3, &b, &labels);
    EXPECT_EQ(music.AddRawFileInfo(MakeTagged(43, RAW_TAG_NONE, "Band", "Song").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(50, RAW_TAG_OFFICE, "Bob", "Report").get()), 1);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(60, 7, "Whatever", "Letter").get()), 1);
    for (const char* name : {"Song000.MP3", "Report000.PDF", "Letter000.RTF"}) {
        const auto* e = b.Find(name, SEARCHER_RAW);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_GE(e->parentId, 10);
    }
    EXPECT_TRUE(b.InTree(SEARCHER_LABEL_RAW).empty());
    EXPECT_EQ(labels.InsertNodeToTree(MakeTagged(50, RAW_TAG_NONE, "x").get(), &b), 0);
}

TEST(rawLabelTree, RefusedFoldersAreMadeAgain)
{
    ResetRawSearchState();
    RecordingTreeBuilder b;
    b.SetRefuse([](IFileNode* node, _tagSearcherType) { return std::string(node->GetFileName()) == "Artists"; });
    CLABELRAWTreeBuilder labels;
    CRAWFileManager music(1, 3, &b, &labels);
    EXPECT_EQ(music.AddRawFileInfo(MakeTagged(43, RAW_TAG_ARTIST, "Band").get()), 0);
    b.SetRefuse(nullptr);
    EXPECT_EQ(music.AddRawFileInfo(MakeTagged(43, RAW_TAG_ARTIST, "Band").get()), 1);
    const auto* artists = b.Find("Artists");
    ASSERT_NE(artists, nullptr);
    EXPECT_EQ(artists->id, -14);
    const auto* band = b.Find("Band");
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->parentId, -14);
    EXPECT_EQ(b.Find("FILE001.MP3")->parentId, band->id);

    // The same for an office sub-folder below its label folder's parent.
    CRAWFileManager documents(1, 6, &b, &labels);
    b.SetRefuse([](IFileNode* node, _tagSearcherType) { return std::string(node->GetFileName()) == "Word"; });
    documents.AddRawFileInfo(MakeTagged(23, RAW_TAG_OFFICE, "Alice").get());
    b.SetRefuse(nullptr);
    EXPECT_EQ(documents.AddRawFileInfo(MakeTagged(23, RAW_TAG_OFFICE, "Alice").get()), 1);
    const auto* word = b.Find("Word");
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(word->parentId, -13);
    size_t bands = 0, alices = 0;
    for (const auto& e : b.Accepted()) {
        bands += e.name == "Band";
        alices += e.name == "Alice";
    }
    EXPECT_EQ(bands, 1u);
    EXPECT_EQ(alices, 1u);
    EXPECT_EQ(b.Find("Alice")->parentId, -12);
}

TEST(rawLabelTree, LabelKeys)
{
    struct Case {
        unsigned int type;
        int tag;
        const char* value;
        const char* key;
    };
    const Case cases[] = {
        {43, 0, "Band", "Band_MP3"},   {35, 1, "CANON", "CANON_CAMERA"}, {23, 2, "A", "A_Word"},
        {74, 2, "A", "A_Excel"},       {75, 2, "A", "A_PowerPoint"},     {50, 2, "A", "A"},
        {42, 3, "Cam", "Cam_MOV"},     {50, 4, "T:x ", "T_x_PDF"},       {5, 5, "Ai", "Ai"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(MakeTagged(c.type, c.tag, c.value).get()), c.key);
}

}  // namespace
