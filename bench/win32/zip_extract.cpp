// zip-extract: the yardstick for the stub's extraction speed. A plain
// console extractor on zlib: walks the local headers of the first ZIP
// archive found in a file, makes folders, creates, writes and stamps each
// file. No window, no prompts, no progress.
//
//   zip-extract IMAGE DESTINATION
#include <windows.h>
#include <zlib.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

static uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t Get32(const uint8_t *p) { return Get16(p) | (uint32_t)Get16(p + 2) << 16; }

static void MakeParents(const std::string &path)
{
    for (size_t i = 0; i < path.size(); i++)
        if (path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: zip-extract IMAGE DESTINATION\n");
        return 2;
    }
    HANDLE image = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (image == INVALID_HANDLE_VALUE)
        return 1;
    std::string dest = argv[2];
    if (!dest.empty() && dest.back() != '\\')
        dest += '\\';
    MakeParents(dest);

    // The first local header among the first 64 KiB.
    std::vector<uint8_t> head(65536);
    DWORD got = 0;
    ReadFile(image, head.data(), (DWORD)head.size(), &got, nullptr);
    uint32_t at = 0;
    while (at + 4 <= got && Get32(&head[at]) != 0x04034B50)
        at++;
    if (at + 4 > got)
        return 1;

    std::vector<uint8_t> in(1 << 16), out(1 << 16);
    for (;;) {
        uint8_t h[30];
        LONG high = 0;
        SetFilePointer(image, (LONG)at, &high, FILE_BEGIN);
        if (!ReadFile(image, h, 30, &got, nullptr) || got != 30 || Get32(h) != 0x04034B50)
            break;
        uint16_t method = Get16(h + 8), time = Get16(h + 10), date = Get16(h + 12);
        uint32_t csize = Get32(h + 18), usize = Get32(h + 22), crc = Get32(h + 14);
        uint16_t nameLength = Get16(h + 26), extraLength = Get16(h + 28);
        std::string name(nameLength, 0);
        ReadFile(image, &name[0], nameLength, &got, nullptr);
        SetFilePointer(image, (LONG)extraLength, nullptr, FILE_CURRENT);
        for (char &c : name)
            if (c == '/')
                c = '\\';
        std::string path = dest + name;
        MakeParents(path);
        if (!name.empty() && name.back() != '\\' && (method == 0 || method == 8)) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                      nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return 1;
            z_stream z = {};
            inflateInit2(&z, -15);
            uint32_t left = csize, running = 0, written = 0;
            bool done = false;
            while (!done) {
                DWORD chunk = left < in.size() ? left : (DWORD)in.size();
                if (chunk && (!ReadFile(image, in.data(), chunk, &got, nullptr) || got != chunk))
                    return 1;
                left -= chunk;
                if (method == 0) {
                    WriteFile(file, in.data(), chunk, &got, nullptr);
                    running = (uint32_t)crc32(running, in.data(), chunk);
                    written += chunk;
                    done = left == 0;
                    continue;
                }
                z.next_in = in.data();
                z.avail_in = chunk;
                do {
                    z.next_out = out.data();
                    z.avail_out = (uInt)out.size();
                    int status = inflate(&z, Z_NO_FLUSH);
                    uInt n = (uInt)out.size() - z.avail_out;
                    WriteFile(file, out.data(), n, &got, nullptr);
                    running = (uint32_t)crc32(running, out.data(), n);
                    written += n;
                    if (status == Z_STREAM_END)
                        done = true;
                    else if (status != Z_OK && status != Z_BUF_ERROR)
                        return 1;
                } while (!done && z.avail_out == 0);
                if (left == 0)
                    done = true;
            }
            inflateEnd(&z);
            if (running != crc || written != usize)
                fprintf(stderr, "bad entry: %s\n", name.c_str());
            FILETIME local, utc;
            if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
                SetFileTime(file, &utc, &utc, &utc);
            CloseHandle(file);
        }
        at += 30 + nameLength + extraLength + csize;
    }
    CloseHandle(image);
    return 0;
}
