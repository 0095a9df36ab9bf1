// Hand-built streams: the corners of the block decoder that encoders rarely
// reach, and the results of streams that are wrong.
#include <algorithm>
#include <random>

#include "inflate_support.h"

using namespace inflate_test;

// The decoder built with the 32-bit bit word of the Win32 stub
// (inflate_word32.h, in another source of this program).
uint16_t InflateStreamWord32();

namespace {

class Streams : public InflateTest {
protected:
    // Decodes a hand-built stream into memory (sink as long as expected),
    // with the native and the 32-bit bit word, and checks it against the
    // expected bytes and, where zlib reads the stream the same way, against
    // zlib's reading.
    void ExpectStream(const Bytes &stream, const Bytes &expected, bool zlibReadsIt = true)
    {
        Bytes z;
        if (zlibReadsIt) {
            ASSERT_TRUE(ZlibInflate(stream, &z)) << "the test built an invalid stream";
            ASSERT_TRUE(z == expected) << "the test's expectation differs from zlib";
        }
        for (auto inflate : {InflateStream, InflateStreamWord32}) {
            std::string how = inflate == InflateStream ? "native word" : "32-bit word";
            Outcome m = InflateToMemory(Padded(stream), expected.size(), 0, inflate);
            ASSERT_EQ(m.result, INFLATE_OK) << how;
            ASSERT_EQ(m.output.size(), expected.size()) << how;
            ASSERT_TRUE(m.output == expected) << how;
            EXPECT_EQ(m.crc, ~Crc32Of(expected)) << how;
            ExpectNoTablesLive();
        }
    }
    // The result of both words, which must agree.
    uint16_t ResultOf(const Bytes &stream)
    {
        Outcome m = InflateToMemory(Padded(stream), 1 << 20);
        ExpectNoTablesLive();
        for (auto inflate : {InflateStream, InflateStreamWord32}) {
            Outcome other = InflateToMemory(Padded(stream), 1 << 20, 0, inflate);
            ExpectNoTablesLive();
            EXPECT_EQ(m.result, other.result) << (inflate == InflateStream ? "native word" : "32-bit word");
        }
        return m.result;
    }
};

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &x : b)
        x = (uint8_t)rng();
    return b;
}

// Appends a back-reference to the expected output, byte by byte.
void Copy(Bytes &out, unsigned length, unsigned distance)
{
    for (unsigned i = 0; i < length; i++)
        out.push_back(out[out.size() - distance]);
}

// Up to 65535 bytes per stored block.
void StoredBlocks(BitWriter &w, const Bytes &data, bool last)
{
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(65535, data.size() - at);
        StoredBlock(w, last && at + n == data.size(), Bytes(data.begin() + at, data.begin() + at + n));
        at += n;
    } while (at < data.size());
}

TEST_F(Streams, TheSmallestStreamYieldsNothingAndTheInitialCrc)
{
    Outcome m = InflateToMemory({0x03, 0x00}, 0);
    EXPECT_EQ(m.result, INFLATE_OK);
    EXPECT_TRUE(m.output.empty());
    EXPECT_EQ(m.crc, 0xFFFFFFFFu);
}

TEST_F(Streams, ALongestMatchAtDistanceOneRepeatsTheLastByte)
{
    BitWriter w;
    BlockWriter b = FixedBlock(w, true);
    b.Literal('x');
    b.Literal('y');
    b.Match(258, 1);
    b.EndOfBlock();
    Bytes expected = {'x', 'y'};
    Copy(expected, 258, 1);
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, ADistanceOf32768CopiesTheByteAWindowBack)
{
    Bytes data = RandomBytes(40000, 1);
    BitWriter w;
    StoredBlocks(w, data, false);
    BlockWriter b = FixedBlock(w, true);
    Bytes expected = data;
    for (int i = 0; i < 300; i++) {
        b.Match(258, 32768);
        Copy(expected, 258, 32768);
    }
    b.EndOfBlock();
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, CopiesCrossingTheWindowEndAreSplitAndFlushedInTheMiddle)
{
    // The destination crosses the end: 32760 bytes, then a copy of 100.
    Bytes data = RandomBytes(32760, 2);
    BitWriter w;
    StoredBlocks(w, data, false);
    BlockWriter b = FixedBlock(w, true);
    Bytes expected = data;
    b.Match(100, 50);
    Copy(expected, 100, 50);
    // Now at window position 92: the source of distance 200 crosses the end.
    b.Match(258, 200);
    Copy(expected, 258, 200);
    // A copy whose source and destination are both near the end.
    for (int i = 0; i < 127; i++) {
        b.Match(258, 3 + i);
        Copy(expected, 258, 3 + i);
    }
    b.EndOfBlock();
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, ExactlyOneAndTwoWindowsOfOutputDecode)
{
    for (size_t size : {32768u, 65536u}) {
        Bytes data = RandomBytes(size, 3);
        BitWriter w;
        StoredBlocks(w, data, true);
        ExpectStream(w.bytes(), data);
    }
}

// Lengths of a complete literal/length code over all 286 symbols: 226 of
// 8 bits and 60 of 9 bits; and of a complete distance code over all 30.
std::vector<uint16_t> FullLitLengths()
{
    std::vector<uint16_t> l(286, 8);
    for (unsigned s = 226; s < 286; s++)
        l[s] = 9;
    return l;
}

std::vector<uint16_t> FullDistLengths()
{
    std::vector<uint16_t> l(30, 5);
    l[0] = l[1] = 4;
    return l;
}

TEST_F(Streams, SeveralBlocksOfAllThreeKindsConcatenate)
{
    Bytes expected;
    BitWriter w;
    Bytes raw = RandomBytes(1000, 4);
    StoredBlock(w, false, raw);
    expected.insert(expected.end(), raw.begin(), raw.end());

    BlockWriter f = FixedBlock(w, false);
    for (uint8_t c : std::string("fixed block "))
        f.Literal(c), expected.push_back(c);
    f.Match(30, 1000);
    Copy(expected, 30, 1000);
    f.EndOfBlock();

    BlockWriter d = DynamicBlock(w, false, FullLitLengths(), FullDistLengths(),
                                 PlainCodeLengthCode());
    for (int i = 0; i < 500; i++) {
        d.Literal((uint8_t)(i * 7));
        expected.push_back((uint8_t)(i * 7));
    }
    d.Match(258, 700);
    Copy(expected, 258, 700);
    d.EndOfBlock();

    StoredBlock(w, false, {});
    BlockWriter g = FixedBlock(w, true);
    g.Literal('!');
    expected.push_back('!');
    g.EndOfBlock();
    w.Bits(0x5A5A, 16);  // whatever follows the last block
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, AStoredBlockReadsTheWholeBytesHeldAfterItsAlignment)
{
    // A fixed block whose end leaves one and a half bytes in the bit buffer
    // after a 9-bit lookahead, then a stored block.
    BitWriter w;
    BlockWriter f = FixedBlock(w, false);
    f.Literal(0xFF);  // a 9-bit literal
    f.EndOfBlock();
    StoredBlock(w, true, {1, 2, 3});
    ExpectStream(w.bytes(), {0xFF, 1, 2, 3});
}

TEST_F(Streams, StoredBlockLengthsThatAreNotComplementsAreBadData)
{
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.AlignToByte();
    w.Bits(5, 16);
    w.Bits(0xFFFB, 16);  // ~5 is 0xFFFA
    w.Bits(0, 40);
    EXPECT_EQ(ResultOf(w.bytes()), INFLATE_BAD_DATA);
}

TEST_F(Streams, BlockTypeThreeIsBadCodesBeforeAnyOfTheBlockIsRead)
{
    // The image holds nothing but the three header bits: a read of the block
    // would be the fatal read error.
    Outcome m = InflateToMemory({0x07}, 0);
    EXPECT_EQ(m.result, INFLATE_BAD_CODES);
    EXPECT_TRUE(HostBoxes.empty());
}

// A dynamic header with raw fields, for the header's own checks.
Bytes DynamicHeader(unsigned hlit, unsigned hdist)
{
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(hlit, 5);
    w.Bits(hdist, 5);
    w.Bits(15, 4);
    for (int i = 0; i < 19; i++)
        w.Bits(4, 3);
    w.Bits(0, 64);
    return w.bytes();
}

TEST_F(Streams, TooManyLiteralOrDistanceCodesAreBadData)
{
    for (unsigned hlit : {30u, 31u})
        EXPECT_EQ(ResultOf(DynamicHeader(hlit, 0)), INFLATE_BAD_DATA);
    for (unsigned hdist : {30u, 31u})
        EXPECT_EQ(ResultOf(DynamicHeader(0, hdist)), INFLATE_BAD_DATA);
}

// A dynamic block with 257 literal/length and 1 distance lengths sent as
// code-length symbols under the 5-symbol code (0:2, 1:2, 16:2, 17:3, 18:3).
struct RepeatStream {
    BitWriter w;
    std::vector<uint16_t> cl = std::vector<uint16_t>(19, 0);
    std::vector<uint32_t> codes;
    RepeatStream(unsigned litCount, unsigned distCount)
    {
        cl[1] = 2;
        cl[0] = 2;
        cl[16] = 2;
        cl[17] = 3;
        cl[18] = 3;
        codes = CanonicalCodes(cl);
        w.Bits(1, 1);
        w.Bits(2, 2);
        w.Bits(litCount - 257, 5);
        w.Bits(distCount - 1, 5);
        w.Bits(15, 4);
        for (int i = 0; i < 19; i++)
            w.Bits(cl[CodeLengthOrder[i]], 3);
    }
    void Sym(unsigned s) { w.Code(codes[s], cl[s]); }
    void Repeat16(unsigned n) { Sym(16), w.Bits(n - 3, 2); }
    void Zeros17(unsigned n) { Sym(17), w.Bits(n - 3, 3); }
    void Zeros18(unsigned n) { Sym(18), w.Bits(n - 11, 7); }
};

TEST_F(Streams, ALeadingRepeatRepeatsZerosAndARepeatMayEndExactlyAtTheTotal)
{
    // 257 + 2 lengths: 16 x3 (zeros), then zeros to 254, then 1 for 254..256
    // (a two-code literal code would be over... so: 255 and 256 get 1).
    RepeatStream s(257, 2);
    s.Repeat16(3);             // lengths 0..2 = 0 (previous length starts at 0)
    s.Zeros18(138);            // 3..140
    s.Zeros18(114);            // 141..254
    s.Sym(1);                  // 255: 1
    s.Sym(1);                  // 256: 1
    s.Sym(1);                  // distance 0: 1
    s.Repeat16(3);             // ... would run to 260 of 259: too far
    s.w.Bits(0, 32);
    EXPECT_EQ(ResultOf(s.w.bytes()), INFLATE_BAD_DATA);

    RepeatStream t(257, 4);
    t.Repeat16(3);
    t.Zeros18(138);
    t.Zeros18(114);
    t.Sym(1);
    t.Sym(1);
    t.Sym(1);                  // distance 0: 1
    t.Repeat16(3);             // distances 1..3: 1 as well, ends at the total
    // Four distance codes of one bit are over-subscribed: BAD_CODES proves
    // that the repeat was accepted and the distance build reached.
    t.w.Bits(0, 32);
    EXPECT_EQ(ResultOf(t.w.bytes()), INFLATE_BAD_CODES);

    RepeatStream u(257, 1);
    u.Repeat16(3);
    u.Zeros18(138);
    u.Zeros18(114);
    u.Sym(1);
    u.Sym(1);
    u.Sym(1);                  // distance 0: one code of one bit
    BlockWriter b(u.w, [] {
        std::vector<uint16_t> l(257, 0);
        l[255] = 1;
        l[256] = 1;
        return l;
    }(), {1});
    b.Literal(255);
    b.Literal(255);
    b.EndOfBlock();
    ExpectStream(u.w.bytes(), {255, 255}, false);  // zlib refuses a leading repeat
}

// The length a code 16 repeats is the last one sent, zeros of 17 and 18
// included: after a run of zeros it repeats a zero.
TEST_F(Streams, ARepeatAfterARunOfZerosRepeatsZero)
{
    RepeatStream s(257, 1);
    s.Sym(1);                  // literal 0: 1
    s.Zeros17(3);              // 1..3
    s.Repeat16(3);             // 4..6: zero again, not 1
    s.Zeros18(138);            // 7..144
    s.Zeros18(111);            // 145..255
    s.Sym(1);                  // 256 (end of block): 1
    s.Sym(1);                  // distance 0: one code of one bit
    BlockWriter b(s.w, [] {
        std::vector<uint16_t> l(257, 0);
        l[0] = 1;
        l[256] = 1;
        return l;
    }(), {1});
    b.Literal(0);
    b.Literal(0);
    b.EndOfBlock();
    ExpectStream(s.w.bytes(), {0, 0});
}

TEST_F(Streams, ABlockWithoutDistanceCodesDecodesItsLiterals)
{
    BitWriter w;
    BlockWriter d = DynamicBlock(w, true, FullLitLengths(), std::vector<uint16_t>(5, 0),
                                 PlainCodeLengthCode());
    Bytes expected;
    for (int i = 0; i < 300; i++) {
        d.Literal((uint8_t)i);
        expected.push_back((uint8_t)i);
    }
    d.EndOfBlock();
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, ALengthInABlockWithoutDistanceCodesIsBadData)
{
    // Alone, and after a block with distance codes, far enough from the
    // stream's end that the length falls into the fast loop.
    for (bool afterDistances : {false, true}) {
        BitWriter w;
        if (afterDistances) {
            BlockWriter f = FixedBlock(w, false);
            f.Literal('x');
            f.Match(10, 1);
            f.EndOfBlock();
        }
        BlockWriter d = DynamicBlock(w, true, FullLitLengths(), std::vector<uint16_t>(1, 0),
                                     PlainCodeLengthCode());
        for (int i = 0; i < 40; i++)
            d.Literal('a');
        d.Symbol(257);  // length 3, with no distance code to follow
        d.EndOfBlock();
        for (int i = 0; i < 16; i++)
            w.Bits(0, 32);
        EXPECT_EQ(ResultOf(w.bytes()), INFLATE_BAD_DATA) << afterDistances;
    }
}

TEST_F(Streams, FarDistancesWithLongCodesAndAllTheirExtraBitsDecode)
{
    // A complete distance code of lengths 1 to 13 for distances 1 to 96 and
    // 14, 15, 15 for the three farthest symbols, whose codes with their 12
    // and 13 extra bits outgrow what one refill of a 32-bit word holds.
    std::vector<uint16_t> dist(30, 0);
    for (unsigned s = 0; s < 13; s++)
        dist[s] = (uint16_t)(s + 1);
    dist[27] = 14;
    dist[28] = dist[29] = 15;
    BitWriter w;
    BlockWriter d = DynamicBlock(w, true, FullLitLengths(), dist, PlainCodeLengthCode());
    Bytes expected = RandomBytes(WINDOW_SIZE + 100, 7);
    for (uint8_t b : expected)
        d.Literal(b);
    std::mt19937 rng(11);
    for (int i = 0; i < 400; i++) {
        unsigned far = 12289 + rng() % (WINDOW_SIZE - 12289 + 1);  // symbols 27 to 29
        unsigned distance = i % 3 ? far : 1 + rng() % 96;
        unsigned length = 3 + rng() % 256;
        d.Match(length, distance);
        Copy(expected, length, distance);
    }
    d.EndOfBlock();
    ExpectStream(w.bytes(), expected);
}

TEST_F(Streams, IncompleteDistanceCodesOfDeepOrWideTablesDecodeTheirMatches)
{
    // One code of one bit and one of fifteen: the fillers of the unused
    // fifteen-bit codes make a table of three levels, thousands of entries.
    // Two codes of eight bits: a root eight bits wide.
    for (std::vector<uint16_t> dist : {std::vector<uint16_t>{1, 15}, std::vector<uint16_t>{8, 8}}) {
        BitWriter w;
        BlockWriter d = DynamicBlock(w, true, FullLitLengths(), dist, PlainCodeLengthCode());
        Bytes expected = {'a', 'b'};
        d.Literal('a');
        d.Literal('b');
        for (int i = 0; i < 200; i++) {
            d.Literal((uint8_t)i);
            expected.push_back((uint8_t)i);
            d.Match(5, i % 2 ? 1 : 2);
            Copy(expected, 5, i % 2 ? 1 : 2);
        }
        d.EndOfBlock();
        ExpectStream(w.bytes(), expected, false);  // zlib refuses incomplete distance codes
    }
}

TEST_F(Streams, EmptyOrOverSubscribedLiteralCodesAreStillRejected)
{
    std::vector<uint16_t> zeros(257, 0);
    BitWriter a;
    DynamicBlock(a, true, zeros, {1}, PlainCodeLengthCode());
    a.Bits(0, 32);
    EXPECT_EQ(ResultOf(a.bytes()), INFLATE_BAD_CODES);

    std::vector<uint16_t> over(257, 0);
    over[0] = over[1] = over[256] = 1;
    BitWriter b;
    DynamicBlock(b, true, over, {1}, PlainCodeLengthCode());
    b.Bits(0, 32);
    EXPECT_EQ(ResultOf(b.bytes()), INFLATE_BAD_CODES);

    std::vector<uint16_t> incomplete(257, 0);
    incomplete[256] = 1;
    BitWriter c;
    DynamicBlock(c, true, incomplete, {1}, PlainCodeLengthCode());
    c.Bits(0, 32);
    EXPECT_EQ(ResultOf(c.bytes()), INFLATE_BAD_DATA);
}

TEST_F(Streams, TheUnusedCodeOfASingleDistanceCodeIsBadData)
{
    BitWriter w;
    DynamicBlock(w, true, FullLitLengths(), {0, 1}, PlainCodeLengthCode());
    BlockWriter d(w, FullLitLengths(), {0, 1});
    d.Literal('a');
    d.Symbol(257);
    w.Bits(1, 1);  // the one-bit code that has no symbol
    w.Bits(0, 32);
    EXPECT_EQ(ResultOf(w.bytes()), INFLATE_BAD_DATA);
}

TEST_F(Streams, FixedSymbolsWithoutMeaningAreBadData)
{
    for (unsigned sym : {286u, 287u}) {
        BitWriter w;
        BlockWriter b = FixedBlock(w, true);
        b.Literal('a');
        b.Symbol(sym);
        w.Bits(0, 32);
        EXPECT_EQ(ResultOf(w.bytes()), INFLATE_BAD_DATA) << sym;
    }
    for (unsigned dist : {30u, 31u}) {
        BitWriter w;
        BlockWriter b = FixedBlock(w, true);
        b.Literal('a');
        b.Symbol(257);
        b.Distance(dist);
        w.Bits(0, 32);
        EXPECT_EQ(ResultOf(w.bytes()), INFLATE_BAD_DATA) << dist;
    }
}

TEST_F(Streams, AFailedTableAllocationIsNoMemoryWithNothingLeaked)
{
    BitWriter w;
    BlockWriter d = DynamicBlock(w, true, FullLitLengths(), std::vector<uint16_t>(30, 5),
                                 PlainCodeLengthCode());
    d.Literal('a');
    d.Match(10, 1);
    d.EndOfBlock();
    Bytes stream = Padded(w.bytes());
    // Code-length table, literal/length root and subtables, distance table:
    // fail each allocation in turn until the stream gets through.
    long k = 0;
    for (;; k++) {
        HostAllocsUntilFailure = k;
        Outcome m = InflateToMemory(stream, 11);
        EXPECT_EQ(HostLiveBlocks, liveAtStart_) << k;
        if (m.result == INFLATE_OK)
            break;
        EXPECT_EQ(m.result, INFLATE_NO_MEMORY) << k;
        ASSERT_LT(k, 1000);
    }
    EXPECT_GE(k, 3);
}

TEST_F(Streams, ADistanceBeforeTheStreamsStartCopiesWhatTheWindowHeld)
{
    // The first stream leaves "abc" at the window's start; the second copies
    // from 32768 back, which is where the first stream's bytes sit.
    BitWriter first;
    StoredBlock(first, true, {'a', 'b', 'c'});
    ExpectStream(first.bytes(), {'a', 'b', 'c'});
    BitWriter second;
    BlockWriter b = FixedBlock(second, true);
    b.Match(3, 32768);
    b.EndOfBlock();
    Outcome m = InflateToMemory(Padded(second.bytes()), 3);
    EXPECT_EQ(m.result, INFLATE_OK);
    EXPECT_EQ(m.output, (Bytes{'a', 'b', 'c'}));
}

}  // namespace
