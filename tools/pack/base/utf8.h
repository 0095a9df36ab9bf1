// UTF-8 taken apart a character at a time, and UTF-16 turned into it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pack {

// The character of length bytes at at, as a refusal names it: U+003A ':'
// (a control character by its code alone).
std::string CharacterName(const std::string &utf8, size_t at, size_t length);
// The length of the UTF-8 sequence that starts with byte c (1 for a stray
// continuation byte, which the conversion then refuses).
size_t SequenceLength(uint8_t c);
// The code point of the length-byte sequence at at.
uint32_t CodePoint(const std::string &utf8, size_t at, size_t length);
// At most units UTF-16 units of text, up to the first zero, as UTF-8; a
// surrogate without its partner as itself.
std::string Utf8(const char16_t *text, size_t units = SIZE_MAX);

}  // namespace pack
