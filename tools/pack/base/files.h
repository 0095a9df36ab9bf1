// The small files the packer reads whole: @FILE, --icon, --stub.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "base/bytes.h"

namespace pack {

// A regular file, whole; one larger than limit is refused naming what
// (empty: the path) and saying the limit. Throws PackError.
Bytes ReadWholeFile(const std::string &path, uint64_t limit = UINT64_MAX, const std::string &what = "");
// The limit of the files read whole: @FILE, --icon, --stub.
constexpr uint64_t kSmallFileLimit = 16u << 20;

// TEXT or @FILE; a file's byte-order mark and trailing line breaks are
// dropped. "@@" at the start stands for a text that begins with "@".
std::string TextArgument(const std::string &value);

}  // namespace pack
