// What every fuzz target starts from: an in-memory file that becomes the
// image, the decoder's window and input buffer, the CRC table, the text of the
// internal error, and fatal exits that throw HostExit instead of ending.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>

#include "inflate/inflate.h"
#include "messages/messages.h"
#include "host_testing.h"

static uint8_t Window[WINDOW_SIZE];
static uint8_t Input[INPUT_SIZE];

// The image's file descriptor; the rest of the process is set up once.
static int SetUpFuzzImage()
{
    int fd = memfd_create("image", 0);
    if (fd < 0)
        abort();
    OutputWindow = Window;
    InputBuffer = Input;
    MakeCrcTable();
    HostThrowOnExit();
    InternalErrorText = LoadResString(IDS_INTERNAL_ERROR);
    return fd;
}
