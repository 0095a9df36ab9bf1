// What every fuzz target starts from: an in-memory file that becomes the
// image, the decoder's window and input buffer, the CRC table, the text of the
// internal error, and fatal exits that throw HostExit instead of ending; and
// each input loaded as the whole image.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

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

// data as the whole image in fd (SetUpFuzzImage's), the stub's ImageFile,
// with no box shown yet.
static void LoadFuzzImage(int fd, const uint8_t *data, size_t size)
{
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size)
        abort();
    ImageFile = (FileHandle)(intptr_t)fd;
    HostResetBoxes();
}
