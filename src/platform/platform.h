// The one layer through which the program reaches the operating system.
//
// Everything above this header (messages, archive, inflate, extract) is written
// against these few operations, so that the core also builds natively for unit
// tests, fuzzers and benchmarks. The Win32 implementation (win32/) is the
// product; the host implementation (host/) serves the native build.
#pragma once

#include <stdint.h>

typedef void *FileHandle;      // HANDLE in the Win32 build
typedef void *WindowHandle;    // HWND
typedef void *ModuleHandle;    // HINSTANCE / HMODULE

#define INVALID_FILE ((FileHandle)(intptr_t)-1)
#define PATH_CHARS 260         // every path buffer of the program, in UTF-16 units

// Text inside the program is UTF-16, as the platform's wide calls take it:
// names and texts reach the system exactly, whatever its ANSI code page.

// Process-wide handles: the program has exactly one of each.
extern ModuleHandle ModuleInstance;  // the program's own module
extern FileHandle ImageFile;         // the program's own image, open for reading
extern char16_t ImageDir[PATH_CHARS];  // the image's folder, without a trailing backslash

// ---- Files --------------------------------------------------------------
// Opens an existing file by its UTF-8 path for reading, sharing read and
// write with others (the native programs that embed the core).
FileHandle OpenReadShared(const char *path);
// Reads up to count bytes; the number read, 0 at the end or on any failure.
uint32_t ReadBytes(FileHandle file, void *buffer, uint32_t count);
// Moves the file position to offset bytes from the start of the file.
void SeekTo(FileHandle file, uint32_t offset);
// The file's size, moving the file position to its end; 0xFFFFFFFF when it
// cannot be told or is 4 GiB or more, beyond the 32-bit offsets of the
// archive.
uint32_t FileLength(FileHandle file);
// Writes count bytes; the number actually written (less on failure).
uint32_t WriteBytes(FileHandle file, const void *buffer, uint32_t count);
void CloseFile(FileHandle file);

// Creates a file for reading and writing, shared with nobody, only where
// none is: INVALID_FILE when one exists (or it cannot be created).
FileHandle CreateNewFile(const char16_t *path);
// Opens an existing file for reading and writing, shared with nobody; the
// way an extracted file is checked for being there and replaceable.
FileHandle OpenForReplace(const char16_t *path);
// Creates a file for reading and writing, shared with nobody; an existing
// one is emptied.
FileHandle CreateOutputFile(const char16_t *path);
// Stamps a file with a ZIP date and time (DOS format, local time by the ZIP
// format's definition) as its creation, last-access and last-write time.
// Failures are ignored.
void StampDosTime(FileHandle file, uint16_t date, uint16_t time);

// ---- Folders ----------------------------------------------------------------
// True only when a new folder was made (an existing one counts as refusal).
bool MakeFolder(const char16_t *path);
// True when path names a folder (or a link to one).
bool IsFolder(const char16_t *path);
// Removes an empty folder, or a link to a folder (never what it points to).
bool RemoveFolder(const char16_t *path);
bool DeleteFileAt(const char16_t *path);
// The system temporary folder, with its trailing backslash, into a
// PATH_CHARS buffer; its length, 0 when the platform gives none. A process
// running as SYSTEM gets a folder that only SYSTEM and administrators may
// enter, where the platform has one.
uint32_t GetTempFolder(char16_t *buffer);
// The process's current folder into a PATH_CHARS buffer; its length, 0 when
// it does not fit.
uint32_t GetCurrentFolder(char16_t *buffer);
bool SetCurrentFolder(const char16_t *path);

// One entry of a folder search.
#define FOUND_DIRECTORY 0x01  // a folder, or a link to one
#define FOUND_LINK 0x02       // a junction or symbolic link: never descend
struct FoundEntry {
    char16_t Name[PATH_CHARS];
    unsigned Kind;            // FOUND_* bits
};
typedef void *SearchHandle;
// Starts a search with a pattern such as "C:\dir\*.*" and returns its first
// entry; null when the search cannot be started. Every entry of the folder
// comes back, "." and ".." included.
SearchHandle FindFirstEntry(const char16_t *pattern, FoundEntry *entry);
bool FindNextEntry(SearchHandle search, FoundEntry *entry);
void FindEnd(SearchHandle search);

// True only when the platform says that the file, or a folder on its path,
// is not there. A file that exists but cannot be opened, even for its
// attributes, is there.
bool FileIsAbsent(const char16_t *path);
// Opens the file for reading and writing with the platform's default
// sharing and closes it at once; false when it cannot be opened so (another
// process holds it without sharing write access, or no access at all).
bool CanOpenForWriting(const char16_t *path);

// ---- Elevated runs ------------------------------------------------------------
// True when the process runs with an administrator's full rights or as
// SYSTEM (integrity level high or above): another program of the same user,
// at the medium level, must then not be able to change what it runs.
bool RunsElevated();
// Makes the new folder path, which must not exist yet, with the security
// descriptor given as self-relative bytes, and opens it in the same step.
// The handle shares no delete access: while it is open, nobody can rename
// or remove the folder. INVALID_FILE when the folder cannot be made, or
// what was opened is not a plain folder (a reparse point is refused).
FileHandle CreateHeldFolder(const char16_t *path, const uint8_t *descriptor);

// ---- Processes ------------------------------------------------------------------
// Finds a program's file by name as the platform starts one, ".exe" added to
// a name without an extension: in folder and, when everywhere is set, then
// in the system folder, the Windows folder and the folders of PATH; a full
// path is only checked. Its full path into a PATH_CHARS buffer; false when
// it is in none of them, or is a folder. Neither the image's folder nor the
// current folder is searched (unless folder or PATH names them).
bool FindProgram(const char16_t *name, const char16_t *folder, bool everywhere,
                 char16_t *path);
typedef void *ProcessHandle;
// Starts a command line (program and arguments, found by the platform's
// usual rules) detached from this program: no console, no inherited
// handles, a process group of its own, in the current folder. Null when it
// cannot be started.
ProcessHandle StartProgram(const char16_t *command);
#define PROCESS_ENDED 0
#define PROCESS_RUNNING 1
#define PROCESS_WAIT_FAILED 2
// Waits at most ms milliseconds for the process to end; PROCESS_ENDED,
// PROCESS_RUNNING when the time passed, PROCESS_WAIT_FAILED otherwise (a
// null handle included).
int WaitForProcess(ProcessHandle process, uint32_t ms);
void CloseProcess(ProcessHandle process);
void Pause(uint32_t ms);
// Handles every message waiting in the thread's queue, then returns.
void PumpMessages();
// Opens or closes a window (with its controls) to mouse and keyboard input.
void EnableInput(WindowHandle window, bool enabled);

// ---- Characters ---------------------------------------------------------------
// The character at p (not at the terminating zero) of an ANSI string in the
// user's code page, as the platform reads it: its UTF-16 units into out
// (room for two), their number in *units; the bytes it takes, one, or two at
// a lead byte of a double-byte code page (such as 932). 0 when the bytes at
// p form no character of the code page (a lead byte at the end, or before a
// byte that cannot follow it).
uint32_t DecodeChar(const char *p, char16_t *out, uint32_t *units);

// ---- Heap -----------------------------------------------------------------
// Creates the program's heap; the process entry calls it before anything else.
void CreateProgramHeap();
// One private, growable heap. A request for 0 bytes is served as 1 byte.
// Blocks are not cleared. Null when the heap is exhausted.
void *HeapAllocBlock(uint32_t size);
// The same, the block cleared to zeros.
void *HeapAllocZeroed(uint32_t size);
void HeapFreeBlock(void *block);

// ---- Memory and strings (the stub has no C runtime) ------------------------
void CopyBytes(void *to, const void *from, uint32_t count);
uint32_t StringLength(const char *text);
uint32_t TextLength(const char16_t *text);
// Copies text into a fresh heap block; null when the heap is exhausted.
char16_t *HeapCopyText(const char16_t *text);
// Decodes length bytes of UTF-8 into out, which has room for length units
// (no byte gives more than one). Strict: -1 for anything that is not UTF-8
// as Windows' own conversion would refuse it (a stray or missing trailing
// byte, an overlong form such as C0 AE for ".", an encoded surrogate, a code
// point above U+10FFFF) and for a NUL. Lax: every byte of a bad sequence
// becomes U+FFFD, and it never fails. The count of units written otherwise.
int32_t Utf8ToWide(const uint8_t *bytes, uint32_t length, char16_t *out, bool strict);

// ---- Module (Win32 build only: start-up and the user interface) -----------
// Opens the running image for reading, sharing read and write with others,
// by its full path in whatever characters it has.
FileHandle OpenOwnImage();
// The full path of the running image into a PATH_CHARS buffer; its length,
// 0 (buffer empty) when it does not fit.
uint32_t GetImagePath(char16_t *buffer);
// Restricts the DLL search of this process to the system folder, where the
// platform offers that; a no-op on systems without it.
void RestrictDllSearch();
// Keeps the system from marking the program's windows "Not Responding" and
// ghosting them while a long extraction runs without a message loop; a
// no-op on systems without window ghosting.
void DisableGhosting();
// Loads a DLL by name from the system folder only; null when it is not there.
ModuleHandle LoadSystemLibrary(const char16_t *name);

// ---- Texts and message boxes ----------------------------------------------
// Loads string resource id into buffer (size characters, always terminated);
// the length copied.
uint32_t LoadStringText(uint16_t id, char16_t *buffer, int size);
// A fresh heap string: pattern with every "%1" replaced by argument, which is
// inserted unchanged. Null when memory runs out.
char16_t *FormatWithArgument(const char16_t *pattern, const char16_t *argument);
// A modal message box; the button chosen, 0 when the box could not be shown.
int ShowMessageBox(WindowHandle owner, const char16_t *text, const char16_t *caption,
                   unsigned type);
// Repaints a window at once (no message loop needed).
void RepaintWindow(WindowHandle window);

// ---- Process ----------------------------------------------------------------
// The program's main function, defined by start-up: the process entry of the
// Win32 build calls it with ModuleInstance's handle and ends the process with
// its result.
int SfxMain(ModuleHandle instance);
// Ends the process with the exit code. Never returns.
[[noreturn]] void EndProcess(unsigned code);

// Message box types and answers, with the platform's own values. Defined here
// for the code that does not include the platform's headers.
#ifndef MB_OK
#define MB_OK 0x00
#define MB_OKCANCEL 0x01
#define MB_YESNOCANCEL 0x03
#define MB_ICONWARNING 0x30
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#endif
