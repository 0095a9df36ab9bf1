// Test controls of the platform double (tests/host/double/), for the native
// tests and fuzzers: failing allocations and writes, paths, code page,
// recorded calls.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "host_platform.h"

// Heap accounting: blocks currently allocated through HeapAllocBlock, and
// a countdown after which allocations fail (-1: never).
extern long HostLiveBlocks;
extern long HostAllocsUntilFailure;

// UTF-16 text as UTF-8, and back (bad bytes as U+FFFD): the host's paths,
// boxes and commands are recorded as UTF-8.
std::string HostUtf8(const char16_t *text);
std::u16string HostUtf16(const std::string &text);

// Windows repainted through RepaintWindow, in order.
extern std::vector<void *> HostRepaints;

// Windows paths (UTF-8) on the host: backslashes become slashes, and a path that
// names a drive ("C:...") or starts at a root ("\\...") lands below
// HostDriveRoot ("C:\\x" is HostDriveRoot + "/C/x", "\\x" is
// HostDriveRoot + "/x"). Empty HostDriveRoot: such paths are refused.
extern std::string HostDriveRoot;
std::string HostPath(const char *path);

// The system temporary folder GetTempFolder reports (a Windows path).
extern std::string HostTempFolder;

// Names are decoded as code page 932 when set (lead bytes 0x81-0x9F and
// 0xE0-0xFC take their next byte with them, as a private-use unit), else as
// Latin-1, byte by byte.
extern bool HostDoubleByte;

// Folders passed to MakeFolder, in order, successful or not.
extern std::vector<std::string> HostMadeFolders;

// Writes through WriteBytes that succeed before every later one fails, as
// on a full disk (-1: never).
extern long HostWritesUntilFailure;

// Processes: commands StartProgram was given and the current folder at each
// start; answers of the next waits (PROCESS_*; once used up, PROCESS_ENDED);
// StartProgram fails while HostStartFails is set.
extern std::vector<std::string> HostStartedCommands;
extern std::vector<std::string> HostStartFolders;
extern std::vector<int> HostWaitResults;
extern bool HostStartFails;
// Programs of the system's folders and PATH (bare name with its extension
// to full Windows path) that FindProgram finds after the folder it is given.
extern std::map<std::string, std::string> HostSystemPrograms;
// Elevated runs: RunsElevated's answer; CreateHeldFolder refuses every folder
// while HostHeldFolderFails is set, and keeps the handle of each folder it
// made by host path (a held folder cannot be removed) and the descriptor it
// was last given.
extern bool HostElevated;
extern bool HostHeldFolderFails;
extern std::map<std::string, int> HostHeldFolders;
extern const uint8_t *HostHeldDescriptor;
// Files (Windows paths as given) that cannot be opened for writing, each
// for the given number of pauses.
extern std::map<std::string, int> HostBusyFiles;
// The order of process, pause, pump and input calls: "start", "wait",
// "close", "pause MS", "pump", "enable", "disable".
extern std::vector<std::string> HostEvents;
