// The packer on several threads: the same image for any number of them,
// entries held ahead within their limits, a failure stopping them all.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "host_testing.h"
#include "pack_test_util.h"

using namespace packtest;

namespace {

// Many entries whose streams take very different times to make, so that
// threads finish them out of order: text, noise that does not shrink, empty
// files and folders; with large, a file of two pieces, which the writer
// streams while the threads go on.
void WriteMixedTree(const TempDir &dir, bool large = false)
{
    std::mt19937 random(7);
    for (int i = 0; i < 60; i++) {
        std::string content;
        size_t size = (size_t)(random() % 5 == 0 ? 200000 : random() % 3000);
        for (size_t at = 0; at < size; at++)
            content += i % 4 == 3 ? (char)random() : "the quick brown fox "[(at * (i + 1) + at / 7) % 20];
        dir.Write("tree/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt", content);
    }
    std::filesystem::create_directories(dir / "tree/empty");
    if (large)
        dir.Write("tree/d3/large.bin", std::string(pack::kChunkSize + 5000, 'L'));
}

}  // namespace

TEST(Jobs, TheImageIsTheSameForAnyNumberOfThreads)
{
    PackFolder bed;
    WriteMixedTree(bed, true);
    for (const char *level : {"1", "6", "12"}) {
        if (level == std::string("12"))
            std::filesystem::remove(bed / "tree/d3/large.bin");  // a minute of level 12 under load
        Bytes first;
        for (const char *jobs : {"1", "2", "3", "8"}) {
            Result run = bed.Run({"--mtime", "2024-01-02", "--level", level, "--jobs", jobs, "--force", "-v",
                                  bed / "tree"});
            ASSERT_EQ(run.code, 0) << run.err;
            Bytes image = pack::ReadWholeFile(bed.output);
            if (first.empty())
                first = image;
            EXPECT_TRUE(image == first) << "level " << level << ", " << jobs << " threads";
            // Listed in the archive's order, as the walk found them.
            EXPECT_LT(run.out.find("tree/d0/f0.txt"), run.out.find("tree/d0/f14.txt")) << jobs;
            EXPECT_LT(run.out.find("tree/d3/"), run.out.find("tree/d4/")) << jobs;
        }
    }
}

// No more than 1,024 entries a thread, nor more than a piece of content a
// thread, are read ahead of the writer: what the pool reports prepared
// before the first entry is taken stays within both.
TEST(Jobs, EntriesAheadOfTheWriterStayWithinTheirLimits)
{
    struct Case {
        size_t files, size;
        unsigned jobs;
        size_t most;  // entries the limits let through
    } cases[] = {{2100, 100, 2, 2048}, {5, 12u << 20, 2, 2}};
    for (const Case &c : cases) {
        TempDir dir;
        for (size_t i = 0; i < c.files; i++)
            dir.Write("in/f" + std::to_string(i), std::string(c.size, (char)('a' + i)));
        pack::TextEncoder encoder;
        auto items = pack::CollectInputs({dir / "in"}, true, encoder);
        uint64_t told = 0;
        pack::EntryPool pool(items, 0, c.jobs);
        pool.onBytes = [&](uint64_t bytes) { told += bytes; };
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pack::PreparedEntry first = pool.Take(0);
        EXPECT_EQ(first.content.size(), c.size);
        EXPECT_GE(told, c.size);
        EXPECT_LE(told, c.most * c.size) << c.size;
    }
}

// A file gone after the walk stops the pack with the refusal the writer
// gives when it comes to that file (never a later one), the threads end and
// nothing is left behind; and the progress counts every byte once.
TEST(Jobs, AFailedEntryStopsEveryThreadWithItsOwnRefusal)
{
    PackFolder bed;
    WriteMixedTree(bed);
    pack::TextEncoder encoder;
    auto items = pack::CollectInputs({bed / "tree"}, false, encoder);
    uint64_t total = 0;
    for (const pack::InputItem &item : items)
        total += item.size;
    for (bool fail : {false, true}) {
        std::string gone = bed / "tree/d1/f1.txt", later = bed / "tree/d6/f6.txt";
        uint64_t counted = 0;
        std::string message;
        try {
            if (fail) {
                std::filesystem::remove(gone);
                std::filesystem::remove(later);
            }
            pack::OutputImage output(bed / "x.exe", true);
            pack::ImageWriter writer(output, FakeStub());
            writer.onBytes = [&](uint64_t bytes) { counted += bytes; };
            pack::EntryPool pool(items, 6, 4);
            pool.onBytes = writer.onBytes;
            ASSERT_EQ(pool.threads(), 4u);
            std::ostringstream log;
            for (size_t i = 0; i < items.size(); i++)
                writer.Add(items[i], pool.Take(i), 6, log);
            writer.Finish();
            output.Commit();
        } catch (const pack::PackError &error) {
            message = error.what();
            EXPECT_EQ(error.failure, pack::Failure::Io);
        }
        if (fail) {
            EXPECT_EQ(message.find(gone + ": "), 0u) << message;
        } else {
            EXPECT_EQ(message, "");
            EXPECT_EQ(counted, total);
        }
    }
    for (const std::string &name : bed.List())
        EXPECT_EQ(name.find(pack::kTemporaryTag), std::string::npos) << name;
}

// The stub's decoder runs on every stream as the entry is prepared: one it
// refuses (here it finds no memory for its tables) is not kept, and the
// entry is written stored, with the warnings of each stream refused.
TEST(Jobs, AStreamTheStubsDecoderRefusesIsNotKept)
{
    PackFolder bed;
    std::string text;
    for (int i = 0; i < 3000; i++)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the text\n";
    bed.Write("in/a.txt", text);
    pack::TextEncoder encoder;
    auto items = pack::CollectInputs({bed / "in/a.txt"}, false, encoder);
    ASSERT_EQ(items.size(), 1u);
    pack::PrepareStubDecoder();  // this thread's window and input buffer: only the tables fail
    for (bool refused : {false, true}) {
        pack::OutputImage output(bed / "x.exe", true);
        pack::ImageWriter writer(output, FakeStub());
        std::ostringstream log;
        HostAllocsUntilFailure = refused ? 0 : -1;
        writer.Add(items[0], 12, log);
        HostAllocsUntilFailure = -1;
        EXPECT_EQ(writer.last().method, refused ? 0 : 8);
        EXPECT_EQ(writer.last().compressedSize, refused ? text.size() : writer.last().compressedSize);
        EXPECT_EQ(log.str(), refused ? "brevant-pack: warning: the stub's decoder refused the libdeflate stream of "
                                       "a.txt; trying another\n"
                                       "brevant-pack: warning: the stub's decoder refused the zlib stream of "
                                       "a.txt; trying another\n"
                                     : "");
    }
}
