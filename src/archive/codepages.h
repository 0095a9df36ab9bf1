// The code pages an image's names and texts may be written in without the
// UTF-8 flag: the ANSI code pages of Windows, which the stub reads them in
// (the system's own, CP_ACP). One table, so that every packer accepts the
// same --codepage values whatever its platform's converter knows.
#pragma once

#include <stdint.h>

static const uint16_t kAnsiCodePages[] = {
    874,                                               // Thai
    932, 936, 949, 950,                                // Japanese, Simplified Chinese, Korean, Traditional Chinese
    1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,  // Central European to Vietnamese
};

inline bool IsAnsiCodePage(int codepage)
{
    for (uint16_t known : kAnsiCodePages)
        if (codepage == known)
            return true;
    return false;
}
