// The configuration block: found by the signature scan, inflated into memory
// by the program's own decoder, verified by its CRC-32 and then checked for
// consistency before anything reads a field of it.
#include "config.h"

#include "archive.h"
#include "names.h"
#include "../inflate/inflate.h"

ConfigBlock *SfxConfig;
uint32_t ConfigSize;
static char16_t *ConfigTexts[CFG_ICON];

static uint32_t Get32(const uint8_t *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Length of the zero-terminated string at offset, or size - offset when no
// zero ends it inside the block. The caller has checked offset < size.
static uint32_t BoundedLength(const uint8_t *block, uint32_t offset, uint32_t size)
{
    uint32_t n = offset;
    while (n < size && block[n] != 0)
        n++;
    return n - offset;
}

// A block whose CRC-32 matches may still have been built wrongly. Every later
// reader trusts the offsets and the terminating zeros, so they are checked
// once here: the fixed part is whole, every offset lies inside the block,
// every string slot ends inside it, and a fixed destination fits the path
// buffer that the start command copies it into.
static bool ConfigIsConsistent(const uint8_t *block, uint32_t size)
{
    if (size < CONFIG_FIXED_SIZE)
        return false;  // no room for Flags, DestKind and the offsets
    const ConfigBlock *config = (const ConfigBlock *)block;
    for (int slot = 0; slot < CONFIG_SLOTS; slot++) {
        uint32_t offset = config->Offsets[slot];
        if (offset >= size)
            return false;  // points at or past the end
        if (slot != CFG_ICON && BoundedLength(block, offset, size) == size - offset)
            return false;  // string runs off the end
    }
    return true;
}

ConfigResult ReadConfig(FileHandle image)
{
    int32_t at = FindSignature(image, CONFIG_SIG_LOW, CONFIG_SIG_HIGH);
    if (at < 0)
        return CONFIG_BAD;

    // The first local header follows the stream directly: where it lies
    // behind the stream's start, it gives the stream's size, and the stream
    // must end there.
    uint32_t streamAt = (uint32_t)at + CONFIG_HEADER_SIZE;
    int32_t entries = FindSignature(image, LOCAL_SIG_LOW, LOCAL_SIG_HIGH);

    // Magic, Crc32, Size. The file position then rests on the compressed
    // stream, where the decoder's first fill starts reading.
    uint8_t header[CONFIG_HEADER_SIZE];
    SeekTo(image, (uint32_t)at);
    if (ReadBytes(image, header, CONFIG_HEADER_SIZE) != CONFIG_HEADER_SIZE)
        return CONFIG_READ_ERROR;  // the image ends inside the header
    uint32_t crc = Get32(header + 4);
    ConfigSize = Get32(header + 8);

    uint8_t *block = (uint8_t *)HeapAllocBlock(ConfigSize);
    if (!block)
        return CONFIG_BAD;  // a size no download can mean
    SfxConfig = (ConfigBlock *)block;

    // Without a local header behind it the stream has no budget: its end is
    // found by the stream itself. A stream shorter than Size would leave the
    // rest of the block uninitialised; a matching CRC over fewer bytes is no
    // proof of the block either.
    LocalHeader stream = {};
    stream.Method = 8;
    stream.Crc32 = crc;
    stream.UncompressedSize = ConfigSize;
    uint32_t budget = 0;
    if (entries >= 0 && (uint32_t)entries >= streamAt) {
        stream.CompressedSize = (uint32_t)entries - streamAt;
        budget = stream.CompressedSize + BUDGET_SLACK;
    }
    FileSource source;
    MakeFileSource(&source, image);
    MemorySink sink;
    MakeMemorySink(&sink, block, ConfigSize);
    DecodeResult result = DecodeEntry(&stream, budget, &source, &sink);
    if (result == DECODE_READ_ERROR)
        return CONFIG_READ_ERROR;
    if (result != DECODE_OK || !ConfigIsConsistent(block, ConfigSize))
        return CONFIG_BAD;

    // A text is shown as far as it decodes: a bad byte never hides the rest.
    for (int slot = 0; slot < CFG_ICON; slot++) {
        const char *bytes = ConfigString(slot);
        uint32_t length = StringLength(bytes);
        ConfigTexts[slot] = (char16_t *)HeapAllocBlock((length + 1) * 2);
        if (!ConfigTexts[slot])
            return CONFIG_BAD;
        DecodeStored(bytes, length, SfxConfig->Flags & SFX_UTF8_TEXTS, false, ConfigTexts[slot]);
    }
    // A fixed folder goes into a path buffer: counted in UTF-16 units, with
    // room for the terminating zero.
    if (SfxConfig->DestKind == DEST_FIXED && TextLength(ConfigTexts[CFG_FIXED_DIR]) >= PATH_CHARS)
        return CONFIG_BAD;
    return CONFIG_OK;
}

const char *ConfigString(int slot) { return (const char *)SfxConfig + SfxConfig->Offsets[slot]; }

const char16_t *ConfigText(int slot) { return ConfigTexts[slot]; }
