// The witness file: what a station keeps of each ledger, only ever added to, by any number of its
// programs at once, and whole after a power cut.
#include "ledger/witness_file.h"

#include "ledger/ledger.h"
#include "tests/core/ledger/ledger_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace orv::ledger::test {
namespace {

TreeRecord treeOf(std::int64_t size, char mark)
{
    TreeRecord t;
    t.origin = "orvcamera.ledger/2026-12-10/0123456789abcdef0123456789abcdef";
    CompactRange range;
    for (std::int64_t i = 0; i < size; ++i) {
        range.append(leafHash(std::string(1, mark) + std::to_string(i)));
    }
    t.size = size;
    t.root = range.root();
    t.chainHash = std::string(64, 'a');
    t.range = range.nodes();
    t.note = "a note\n\n— k AAAA\n";
    return t;
}

TEST(WitnessFileTest, ProgramsAddingAtOnceEachAddWholeLines)
{
    TempFolder folder;
    const auto file = folder.path() / "orv_witness.txt";
    constexpr int kWriters = 4;
    constexpr int kEach = 40;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        // Each its own reading of the file, as two programs of one station have.
        writers.emplace_back([&, w] {
            std::string error;
            std::optional<WitnessFile> witness = WitnessFile::open(file, error);
            ASSERT_TRUE(witness) << error;
            for (int i = 0; i < kEach; ++i) {
                ASSERT_TRUE(witness->addPlace("/ledger/" + std::to_string(w) + "/" + std::to_string(i),
                                              "orvcamera.ledger/w" + std::to_string(w), error))
                    << error;
                ASSERT_TRUE(witness->addTree(treeOf(i + 1, static_cast<char>('a' + w)), error)) << error;
            }
        });
    }
    for (std::thread& t : writers) {
        t.join();
    }
    std::string error;
    const std::optional<WitnessFile> read = WitnessFile::open(file, error);
    ASSERT_TRUE(read) << error;
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(read->originAt("/ledger/" + std::to_string(w) + "/" + std::to_string(i)),
                      "orvcamera.ledger/w" + std::to_string(w));
        }
    }
    EXPECT_EQ(read->trees(treeOf(1, 'a').origin).size(), static_cast<std::size_t>(kWriters * kEach));
    const std::string bytes = fileBytes(file);
    EXPECT_EQ(bytes.find("orvcamera-witness 1\n"), 0u);
    EXPECT_EQ(bytes.find("orvcamera-witness 1\n", 1), std::string::npos) << "one header, whoever wrote first";
}

TEST(WitnessFileTest, ALineTornByAPowerCutIsDroppedBeforeTheNext)
{
    TempFolder folder;
    const auto file = folder.path() / "orv_witness.txt";
    std::string error;
    {
        std::optional<WitnessFile> witness = WitnessFile::open(file, error);
        ASSERT_TRUE(witness && witness->addTree(treeOf(3, 'x'), error)) << error;
    }
    const std::string whole = fileBytes(file);
    {
        std::ofstream(file, std::ios::binary | std::ios::app) << "tree orvcamera.ledger/2026-12-10/01 4 AAA";
    }
    std::optional<WitnessFile> witness = WitnessFile::open(file, error);
    ASSERT_TRUE(witness) << "a torn last line was never published: the file reads as before it, " << error;
    EXPECT_EQ(witness->largest(treeOf(3, 'x').origin)->size, 3);
    ASSERT_TRUE(witness->addPlace("/ledger.db", treeOf(3, 'x').origin, error)) << error;
    EXPECT_EQ(fileBytes(file), whole + "seen /ledger.db " + treeOf(3, 'x').origin + "\n");

    // Torn before its header was whole: the header is written again.
    {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << "orvcamera-wit";
    }
    witness = WitnessFile::open(file, error);
    ASSERT_TRUE(witness) << error;
    ASSERT_TRUE(witness->addPlace("/ledger.db", treeOf(3, 'x').origin, error)) << error;
    EXPECT_EQ(fileBytes(file), "orvcamera-witness 1\nseen /ledger.db " + treeOf(3, 'x').origin + "\n");
}

TEST(WitnessFileTest, RecordsReadBackAsWritten)
{
    TempFolder folder;
    const auto file = folder.path() / "orv_witness.txt";
    std::string error;
    std::optional<WitnessFile> witness = WitnessFile::open(file, error);
    ASSERT_TRUE(witness);
    const TreeRecord written = treeOf(13, 'q');
    ASSERT_TRUE(witness->addTree(written, error)) << error;
    // A place with what a PostgreSQL location or a Windows path may hold.
    const std::string place = "C:\\Users\\An Na\\100% ledger.db";
    ASSERT_TRUE(witness->addPlace(place, written.origin, error)) << error;
    const std::optional<WitnessFile> read = WitnessFile::open(file, error);
    ASSERT_TRUE(read) << error;
    const TreeRecord* t = read->largest(written.origin);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->size, 13);
    EXPECT_EQ(t->root, written.root);
    EXPECT_EQ(t->chainHash, written.chainHash);
    EXPECT_EQ(t->range, written.range);
    EXPECT_EQ(t->note, written.note);
    EXPECT_EQ(t->line, 2);
    EXPECT_EQ(read->originAt(place), written.origin);
    EXPECT_EQ(read->placeLine(place), 3);
}

} // namespace
} // namespace orv::ledger::test
