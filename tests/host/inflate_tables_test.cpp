// Decoding tables: their exact shapes, what every code decodes to, and that
// every table of a build is freed exactly once.
#include <algorithm>
#include <memory>
#include <random>

#include "inflate_support.h"

using namespace inflate_test;

namespace {

class CodeTables : public InflateTest {
protected:
    uint16_t Build(const std::vector<uint16_t> &lengths, uint16_t simpleCount, uint16_t width,
                   const uint16_t *base = nullptr, const uint8_t *extra = nullptr)
    {
        root_ = nullptr;
        width_ = width;
        return BuildCodeTable(lengths.data(), (uint16_t)lengths.size(), simpleCount, base, extra,
                              &root_, &width_);
    }
    void TearDown() override
    {
        FreeCodeTable(root_);
        ExpectNoTablesLive();
        InflateTest::TearDown();
    }
    // The entry of the next symbol as the symbol loop walks the table (its
    // entry layout, inflate_internal.h), its code's bits consumed; null for
    // a code without a symbol (no bits consumed at that level).
    static const CodeEntry *Walk(uint16_t width, const CodeEntry *table)
    {
        unsigned n = width;
        for (;;) {
            if (BitCount < n)
                FillBits(n);
            const CodeEntry *entry = &table[BitBuffer & BitMask(n)];
            if (entry->op == OP_INVALID)
                return nullptr;
            DropBits(entry->bits);
            if (entry->op <= OP_LITERAL)
                return entry;
            n = entry->op - OP_LINK;
            table = entry->table;
        }
    }
    // Decodes the code (length bits, first bit first) through the table, with
    // nothing after it in the input: the symbol entry, or null.
    const CodeEntry *DecodeCode(uint32_t code, unsigned length)
    {
        BitWriter w;
        w.Code(code, length);
        w.Bits(0, 32);
        image_.reset();
        image_.reset(new TempImage(w.bytes()));
        ResetDecoder();
        InputBudget = 0;
        const CodeEntry *e = Walk(width_, root_);
        consumed_ = (unsigned)((w.bytes().size() - InputLeft) * 8 - BitCount);
        return e;
    }
    // The number of tables in the build's chain, root included.
    int ChainLength() const
    {
        int n = 0;
        for (const CodeEntry *t = root_; t; t = t[-1].table)
            n++;
        return n;
    }
    CodeEntry *root_ = nullptr;
    uint16_t width_ = 0;
    unsigned consumed_ = 0;
    std::unique_ptr<TempImage> image_;
};

void ExpectSymbol(const CodeEntry &e, unsigned symbol, unsigned bits)
{
    EXPECT_EQ(e.op, OP_LITERAL);
    EXPECT_EQ(e.value, symbol);
    EXPECT_EQ(e.bits, bits);
}

TEST_F(CodeTables, WorkedExampleWithARootOfTwoBitsAndOneSubtable)
{
    ASSERT_EQ(Build({2, 1, 3, 3}, 4, 2), INFLATE_OK);
    EXPECT_EQ(width_, 2);
    ExpectSymbol(root_[0], 1, 1);
    ExpectSymbol(root_[2], 1, 1);
    ExpectSymbol(root_[1], 0, 2);
    EXPECT_EQ(root_[3].op, 17);
    EXPECT_EQ(root_[3].bits, 2);
    const CodeEntry *sub = root_[3].table;
    ExpectSymbol(sub[0], 2, 1);
    ExpectSymbol(sub[1], 3, 1);
    EXPECT_EQ(ChainLength(), 2);
    EXPECT_EQ(root_[-1].table, sub);
    EXPECT_EQ(sub[-1].table, nullptr);
}

TEST_F(CodeTables, WorkedExampleWithAWidePreferenceIsOneTableOfTheLongestLength)
{
    ASSERT_EQ(Build({2, 1, 3, 3}, 4, 9), INFLATE_OK);
    EXPECT_EQ(width_, 3);
    for (int i : {0, 2, 4, 6})
        ExpectSymbol(root_[i], 1, 1);
    for (int i : {1, 5})
        ExpectSymbol(root_[i], 0, 2);
    ExpectSymbol(root_[3], 2, 3);
    ExpectSymbol(root_[7], 3, 3);
    EXPECT_EQ(ChainLength(), 1);
}

TEST_F(CodeTables, FixedLiteralLengthCodeDecodesEverySymbol)
{
    ASSERT_EQ(Build(FixedLitLengths(), 257, 7, LengthBase, LengthExtra), INFLATE_OK);

    // Every symbol decodes from its canonical code; 286 and 287 as none.
    std::vector<uint16_t> lengths = FixedLitLengths();
    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (unsigned s = 0; s < 288; s++) {
        const CodeEntry *e = DecodeCode(codes[s], lengths[s]);
        if (s >= 286) {
            EXPECT_EQ(e, nullptr) << s;
            continue;
        }
        ASSERT_NE(e, nullptr) << s;
        if (s < 256) {
            EXPECT_EQ(e->op, OP_LITERAL);
            EXPECT_EQ(e->value, s);
        } else if (s == 256) {
            EXPECT_EQ(e->op, OP_END_OF_BLOCK);
        } else {
            EXPECT_EQ(e->op, LengthExtra[s - 257]);
            EXPECT_EQ(e->value, LengthBase[s - 257]);
        }
        EXPECT_EQ(consumed_, lengths[s]) << s;
    }
}

TEST_F(CodeTables, FixedDistanceCodeIsIncompleteWithTwoUnusedCodes)
{
    ASSERT_EQ(Build(std::vector<uint16_t>(30, 5), 0, 5, DistanceBase, DistanceExtra),
              INFLATE_BAD_DATA);
    EXPECT_EQ(width_, 5);
    EXPECT_EQ(ChainLength(), 1);
    for (unsigned s = 0; s < 32; s++) {
        const CodeEntry *e = DecodeCode(s, 5);
        if (s >= 30) {
            EXPECT_EQ(e, nullptr);
        } else {
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->value, DistanceBase[s]);
            EXPECT_EQ(e->op, DistanceExtra[s]);
        }
    }
}

TEST_F(CodeTables, ASingleCodeOfOneBitIsCompleteOnlyForASingleSymbol)
{
    ASSERT_EQ(Build({1}, 1, 7), INFLATE_OK);
    EXPECT_EQ(width_, 1);
    ExpectSymbol(root_[0], 0, 1);
    EXPECT_EQ(root_[1].op, OP_INVALID);
    FreeCodeTable(root_);

    ASSERT_EQ(Build({0, 0, 1, 0}, 4, 7), INFLATE_BAD_DATA);
    EXPECT_EQ(width_, 1);
    ExpectSymbol(root_[0], 2, 1);
    EXPECT_EQ(root_[1].op, OP_INVALID);
}

TEST_F(CodeTables, OverSubscribedLengthsAreRejectedWithNothingAllocated)
{
    long live = HostLiveBlocks;
    EXPECT_EQ(Build({1, 1, 1}, 3, 7), INFLATE_BAD_CODES);
    EXPECT_EQ(Build({2, 2, 2, 2, 3}, 5, 7), INFLATE_BAD_CODES);
    EXPECT_EQ(HostLiveBlocks, live);
    root_ = nullptr;
}

TEST_F(CodeTables, AllZeroLengthsAreRejectedWithoutTouchingTheOutputs)
{
    CodeEntry marker;
    CodeEntry *root = &marker;
    uint16_t width = 7;
    std::vector<uint16_t> zeros(19, 0);
    EXPECT_EQ(BuildCodeTable(zeros.data(), 19, 19, nullptr, nullptr, &root, &width),
              INFLATE_BAD_CODES);
    EXPECT_EQ(root, &marker);
    EXPECT_EQ(width, 7);
}

TEST_F(CodeTables, TheRootWidthIsClampedToTheShortestAndLongestLengths)
{
    ASSERT_EQ(Build(std::vector<uint16_t>(8, 3), 8, 6), INFLATE_OK);
    EXPECT_EQ(width_, 3);
    EXPECT_EQ(ChainLength(), 1);
    FreeCodeTable(root_);

    ASSERT_EQ(Build({0, 12, 0, 0, 12, 0, 0}, 7, 6), INFLATE_BAD_DATA);
    EXPECT_EQ(width_, 12);
    EXPECT_EQ(ChainLength(), 1);
    int invalid = 0;
    for (int i = 0; i < 4096; i++)
        invalid += root_[i].op == OP_INVALID;
    EXPECT_EQ(invalid, 4094);
    EXPECT_EQ(root_[0].value, 1);
    EXPECT_EQ(root_[0].bits, 12);
}

TEST_F(CodeTables, AnIncompleteCodeWithLongJumpsDecodesEveryCodeAndNoneForTheRest)
{
    std::vector<uint16_t> lengths = {1, 2, 3, 4, 5, 6, 12, 13, 14, 15};
    ASSERT_EQ(Build(lengths, (uint16_t)lengths.size(), 6), INFLATE_BAD_DATA);
    EXPECT_EQ(width_, 6);
    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (unsigned s = 0; s < lengths.size(); s++) {
        const CodeEntry *e = DecodeCode(codes[s], lengths[s]);
        ASSERT_NE(e, nullptr) << s;
        EXPECT_EQ(e->value, s);
        EXPECT_EQ(consumed_, lengths[s]);
    }
    // Every 15-bit pattern that no code is a prefix of decodes as none.
    uint32_t used15 = codes[9] + 1;  // codes are ordered; the rest are unused
    for (uint32_t c = used15; c < 32768; c += 37)
        EXPECT_EQ(DecodeCode(c, 15), nullptr) << c;
    EXPECT_EQ(DecodeCode(32767, 15), nullptr);
}

// Random complete and incomplete codes: every code decodes to its symbol
// after exactly its length in bits, through tables no wider than the root.
TEST_F(CodeTables, RandomCodesDecodeEverySymbolAfterExactlyItsLength)
{
    std::mt19937 rng(42);
    for (int round = 0; round < 150; round++) {
        unsigned count = 2 + rng() % 287;
        std::vector<uint16_t> lengths(count, 0);
        // Kraft: hand out code space from a random walk until it is used up.
        uint32_t room = 1u << 15;  // in units of 2^-15
        for (unsigned s = 0; s < count && room; s++) {
            if (rng() % 4 == 0)
                continue;
            unsigned len = 1 + rng() % 15;
            while ((1u << (15 - len)) > room)
                len++;
            lengths[s] = (uint16_t)len;
            room -= 1u << (15 - len);
        }
        if (std::count(lengths.begin(), lengths.end(), 0) == (long)count)
            lengths[0] = 1;
        uint16_t pref = (uint16_t)(1 + rng() % 10);
        uint16_t r = Build(lengths, (uint16_t)count, pref);
        ASSERT_TRUE(r == INFLATE_OK || r == INFLATE_BAD_DATA) << round;
        std::vector<uint32_t> codes = CanonicalCodes(lengths);
        for (unsigned s = 0; s < count; s++) {
            if (!lengths[s])
                continue;
            const CodeEntry *e = DecodeCode(codes[s], lengths[s]);
            ASSERT_NE(e, nullptr) << "round " << round << " symbol " << s;
            EXPECT_EQ(e->value, s);
            EXPECT_EQ(consumed_, lengths[s]) << "round " << round << " symbol " << s;
        }
        FreeCodeTable(root_);
        root_ = nullptr;
        EXPECT_EQ(HostLiveBlocks, liveAtStart_);
    }
}

TEST_F(CodeTables, AFailedAllocationReleasesEverythingOfTheBuild)
{
    // The fixed literal/length code makes 105 tables; fail each one in turn.
    for (long k = 0; k < 105; k++) {
        HostAllocsUntilFailure = k;
        EXPECT_EQ(Build(FixedLitLengths(), 257, 7, LengthBase, LengthExtra), INFLATE_NO_MEMORY)
            << k;
        EXPECT_EQ(HostLiveBlocks, liveAtStart_) << k;
    }
    HostAllocsUntilFailure = -1;
    root_ = nullptr;
    ASSERT_EQ(Build(FixedLitLengths(), 257, 7, LengthBase, LengthExtra), INFLATE_OK);
    EXPECT_EQ(HostLiveBlocks, liveAtStart_ + 105);
}

TEST_F(CodeTables, FreeingANullTableDoesNothing)
{
    FreeCodeTable(nullptr);
    EXPECT_EQ(HostLiveBlocks, liveAtStart_);
}

}  // namespace
