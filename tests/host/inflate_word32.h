// The block decoder and its fast path built once more, with the 32-bit bit
// word of the Win32 stub: the code under test as the 32-bit stub builds it,
// its routines renamed with a suffix, InflateStreamWord32 the entry. Include
// it in one source file of a program.
#pragma once

#include <stdint.h>

#include "inflate/inflate_internal.h"

#define CodeLengthOrder CodeLengthOrderWord32
#define LengthBase LengthBaseWord32
#define LengthExtra LengthExtraWord32
#define DistanceBase DistanceBaseWord32
#define DistanceExtra DistanceExtraWord32
#define CopyStoredBlock CopyStoredBlockWord32
#define DecodeFixedBlock DecodeFixedBlockWord32
#define DecodeDynamicBlock DecodeDynamicBlockWord32
#define DecodeWithLengths DecodeWithLengthsWord32
#define DecodeSymbols DecodeSymbolsWord32
#define InflateStream InflateStreamWord32
#define PackFastTables PackFastTablesWord32
#define DecodeFast DecodeFastWord32
#define FastState FastStateWord32
uint16_t DecodeDynamicBlock();
uint16_t DecodeWithLengths(uint16_t litWidth, const uint16_t *lengths, uint16_t litCount,
                           uint16_t distWidth, uint16_t distCount);
uint16_t DecodeSymbols(const CodeEntry *litTable, const CodeEntry *distTable,
                       uint16_t litWidth, uint16_t distWidth);
#define INFLATE_BIT_WORD uint32_t
#include "inflate/blocks.cpp"
#include "inflate/dynamic.cpp"
#include "inflate/fast.cpp"
#undef CodeLengthOrder
#undef LengthBase
#undef LengthExtra
#undef DistanceBase
#undef DistanceExtra
#undef CopyStoredBlock
#undef DecodeFixedBlock
#undef DecodeDynamicBlock
#undef DecodeWithLengths
#undef DecodeSymbols
#undef InflateStream
#undef PackFastTables
#undef DecodeFast
#undef FastState
#undef INFLATE_BIT_WORD
