// The configuration block appended to the image: flags, destination kind,
// seven strings and an icon, inflated into memory at start-up.
//
// Block layout (little-endian 32-bit numbers, offsets from the block's start):
//   0  Flags     4  DestKind     8  Offsets[8]     40  strings and icon
// Slots 0 to 6 are zero-terminated strings, UTF-8 with SFX_UTF8_TEXTS, else
// in the ANSI code page; slot 7 (the icon image) runs from its offset to the
// end of the block.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"

#define CONFIG_HEADER_SIZE 12   // "JAVA", CRC-32, Size
#define CONFIG_FIXED_SIZE 40    // Flags, DestKind, eight offsets
#define CONFIG_SLOTS 8

// Flags
#define SFX_AUTOSTART 0x01
#define SFX_CTL3D 0x02
#define SFX_OVERWRITE 0x04
#define SFX_DELETE_AFTER 0x08
#define SFX_EXTRACTOR_UI 0x10
#define SFX_UTF8_TEXTS 0x20    // slots 0 to 6 are UTF-8

// DestKind
#define DEST_TEMP 1
#define DEST_IMAGE_DIR 2
#define DEST_UNIQUE_TEMP 3
#define DEST_FIXED 4

// String slots
#define CFG_START_MESSAGE 0
#define CFG_INIT_MESSAGE 1
#define CFG_ABOUT_TEXT 2
#define CFG_DESCRIPTION 3
#define CFG_FIXED_DIR 4
#define CFG_RUN_COMMAND 5
#define CFG_WAIT_FILE 6
#define CFG_ICON 7

struct ConfigBlock {
    uint32_t Flags;
    uint32_t DestKind;
    uint32_t Offsets[CONFIG_SLOTS];
};

extern ConfigBlock *SfxConfig;  // the inflated block, never freed
extern uint32_t ConfigSize;     // its length in bytes

// What became of the block.
enum ConfigResult {
    CONFIG_OK = 0,
    CONFIG_BAD,         // missing, damaged or inconsistent, or no memory for it:
                        // "Internal error. Bad download?"
    CONFIG_READ_ERROR,  // the image ends inside it: "Error reading from archive."
};

// Finds, inflates and checks the block of image; ends nothing.
ConfigResult ReadConfig(FileHandle image);
// The first byte of slot n (0 to 7).
const char *ConfigString(int slot);
// The text of slot n (0 to 6) in UTF-16, decoded once by ReadConfig; bytes
// that form no character are shown as U+FFFD or '?'.
const char16_t *ConfigText(int slot);
