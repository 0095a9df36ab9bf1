// Win32 implementation of the platform layer: the only code of the program
// that calls the kernel, and the user services that the core needs (string
// resources, message boxes, repaint).
#include "../platform.h"

#include <windows.h>
#include <winternl.h>

ModuleHandle ModuleInstance;
FileHandle ImageFile;  // opened first thing at start-up
char16_t ImageDir[PATH_CHARS];

static HANDLE ProgramHeap;

// The program's UTF-16 text as the wide calls take it (WCHAR is wchar_t,
// two bytes on Windows).
static LPCWSTR Wide(const char16_t *text) { return (LPCWSTR)text; }

void CreateProgramHeap()
{
    // Private to this one thread (no serialisation), growable.
    ProgramHeap = HeapCreate(HEAP_NO_SERIALIZE, 4096, 0);
}

uint32_t ReadBytes(FileHandle file, void *buffer, uint32_t count)
{
    DWORD got = 0;
    if (!ReadFile(file, buffer, count, &got, nullptr))
        return 0;
    return got;
}

void SeekTo(FileHandle file, uint32_t offset)
{
    // Offsets are 32-bit unsigned: pass the high part so that offsets of
    // 2 GiB and more are not taken as negative distances.
    LONG high = 0;
    SetFilePointer(file, (LONG)offset, &high, FILE_BEGIN);
}

uint32_t FileLength(FileHandle file)
{
    LONG high = 0;
    DWORD size = SetFilePointer(file, 0, &high, FILE_END);
    return high ? INVALID_SET_FILE_POINTER : size;
}

uint32_t WriteBytes(FileHandle file, const void *buffer, uint32_t count)
{
    DWORD put = 0;
    if (!WriteFile(file, buffer, count, &put, nullptr))
        return 0;
    return put;
}

void CloseFile(FileHandle file) { CloseHandle(file); }

void *HeapAllocBlock(uint32_t size) { return HeapAlloc(ProgramHeap, 0, size ? size : 1); }

void *HeapAllocZeroed(uint32_t size)
{
    return HeapAlloc(ProgramHeap, HEAP_ZERO_MEMORY, size ? size : 1);
}

void HeapFreeBlock(void *block)
{
    if (block)
        HeapFree(ProgramHeap, 0, block);
}

void CopyBytes(void *to, const void *from, uint32_t count)
{
    uint8_t *t = (uint8_t *)to;
    const uint8_t *f = (const uint8_t *)from;
    if (t < f) {
        while (count--)
            *t++ = *f++;
    } else {
        while (count--)
            t[count] = f[count];
    }
}

uint32_t StringLength(const char *text) { return (uint32_t)lstrlenA(text); }

uint32_t TextLength(const char16_t *text) { return (uint32_t)lstrlenW(Wide(text)); }


// A function of a module that every process of the program has loaded, or
// null where that version of the system lacks it: calls that not every
// supported system offers are looked up, never imported.
static void *LoadedCall(const wchar_t *module, const char *name)
{
    HMODULE loaded = GetModuleHandleW(module);
    return loaded ? (void *)GetProcAddress(loaded, name) : nullptr;
}

// Room for a long path; the image's own path is never cut.
#define IMAGE_PATH_CHARS 1024

// A folder named in Cyrillic on an English system has no ANSI form: the
// image opens by its wide path, whatever its folder is called.
FileHandle OpenOwnImage()
{
    WCHAR path[IMAGE_PATH_CHARS];
    DWORD length = GetModuleFileNameW((HMODULE)ModuleInstance, path, IMAGE_PATH_CHARS);
    if (length == 0 || length >= IMAGE_PATH_CHARS)
        return INVALID_FILE;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

uint32_t GetImagePath(char16_t *buffer)
{
    DWORD length = GetModuleFileNameW((HMODULE)ModuleInstance, (LPWSTR)buffer, PATH_CHARS);
    if (length == 0 || length >= PATH_CHARS) {
        buffer[0] = 0;
        return 0;
    }
    return length;
}

// A self-extractor usually runs from a downloads folder, where anyone may
// have left a DLL named after one that the process loads. Where the system
// offers it (Windows 7 with KB2533623 and later), the search for DLLs is
// limited to the system folder. Looked up at run time so that older systems
// still start.
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDirsProc)(DWORD);
    SetDirsProc setDirs = (SetDirsProc)LoadedCall(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDirs)
        setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Windows replaces the window of a program that has not looked at its queue
// for five seconds with a ghost captioned "Not Responding". Extraction runs
// inside the dialog procedure with no message loop by design (nothing may be
// dispatched in the middle of it), so ghosting is turned off for the process,
// the documented way (Windows XP and later; looked up so that older systems
// still start). Wine has no ghosting: there the call changes nothing.
void DisableGhosting()
{
    typedef void(WINAPI * DisableProc)();
    DisableProc disable = (DisableProc)LoadedCall(L"user32.dll", "DisableProcessWindowsGhosting");
    if (disable)
        disable();
}

// Loads name by its full path in the system folder, so that no other folder
// is ever searched, whatever the system's search rules are.
ModuleHandle LoadSystemLibrary(const char16_t *name)
{
    WCHAR path[PATH_CHARS];
    UINT length = GetSystemDirectoryW(path, PATH_CHARS);
    if (length == 0 || length + 1 + (UINT)lstrlenW(Wide(name)) >= PATH_CHARS)
        return nullptr;
    if (path[length - 1] != '\\')
        lstrcatW(path, L"\\");
    lstrcatW(path, Wide(name));
    return LoadLibraryW(path);
}

uint32_t LoadStringText(uint16_t id, char16_t *buffer, int size)
{
    int length = LoadStringW((HINSTANCE)ModuleInstance, id, (LPWSTR)buffer, size);
    if (length <= 0) {
        buffer[0] = 0;
        length = 0;
    }
    return (uint32_t)length;
}

char16_t *FormatWithArgument(const char16_t *pattern, const char16_t *argument)
{
    if (!pattern)
        return nullptr;
    char16_t *formatted = nullptr;
    DWORD_PTR arguments[1] = {(DWORD_PTR)argument};
    // The argument is inserted as it is: a "%1" inside it is not expanded.
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                            FORMAT_MESSAGE_ARGUMENT_ARRAY,
                        pattern, 0, 0, (LPWSTR)&formatted, 0, (va_list *)arguments))
        return nullptr;
    char16_t *copy = HeapCopyText(formatted);
    LocalFree(formatted);
    return copy;
}

int ShowMessageBox(WindowHandle owner, const char16_t *text, const char16_t *caption,
                   unsigned type)
{
    return MessageBoxW((HWND)owner, Wide(text), Wide(caption), type);
}

void RepaintWindow(WindowHandle window) { UpdateWindow((HWND)window); }

void EndProcess(unsigned code)
{
    ExitProcess(code);
}

// ---- Output files and folders ------------------------------------------------

FileHandle CreateNewFile(const char16_t *path)
{
    return CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
}

FileHandle OpenForReplace(const char16_t *path)
{
    return CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

FileHandle CreateOutputFile(const char16_t *path)
{
    return CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}

// ZIP times are local wall-clock times. The conversion goes through the time
// zone's rules for that date (daylight saving included), as unzip does, not
// through today's offset.
void StampDosTime(FileHandle file, uint16_t date, uint16_t time)
{
    FILETIME local, utc;
    SYSTEMTIME localTime, utcTime;
    if (!DosDateTimeToFileTime(date, time, &local) || !FileTimeToSystemTime(&local, &localTime))
        return;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime) ||
        !SystemTimeToFileTime(&utcTime, &utc)) {
        if (!LocalFileTimeToFileTime(&local, &utc))
            return;
    }
    SetFileTime(file, &utc, &utc, &utc);
}

bool MakeFolder(const char16_t *path) { return CreateDirectoryW(Wide(path), nullptr) != 0; }

bool IsFolder(const char16_t *path)
{
    DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A junction or a symbolic link to a folder is removed by RemoveDirectoryW
// as the link itself; its target is not touched.
bool RemoveFolder(const char16_t *path) { return RemoveDirectoryW(Wide(path)) != 0; }

bool DeleteFileAt(const char16_t *path) { return DeleteFileW(Wide(path)) != 0; }

uint32_t GetTempFolder(char16_t *buffer)
{
    // GetTempPath2W gives SYSTEM C:\Windows\SystemTemp, where other users
    // cannot create anything, instead of the shared C:\Windows\Temp; every
    // other account gets the same folder as from GetTempPathW.
    typedef DWORD(WINAPI * TempPathProc)(DWORD, LPWSTR);
    TempPathProc tempPath = (TempPathProc)LoadedCall(L"kernel32.dll", "GetTempPath2W");
    if (!tempPath)
        tempPath = GetTempPathW;
    DWORD length = tempPath(PATH_CHARS, (LPWSTR)buffer);
    if (length == 0 || length >= PATH_CHARS) {
        buffer[0] = 0;
        return 0;
    }
    return length;
}

uint32_t GetCurrentFolder(char16_t *buffer)
{
    DWORD length = GetCurrentDirectoryW(PATH_CHARS, (LPWSTR)buffer);
    if (length == 0 || length >= PATH_CHARS) {
        buffer[0] = 0;
        return 0;
    }
    return length;
}

bool SetCurrentFolder(const char16_t *path) { return SetCurrentDirectoryW(Wide(path)) != 0; }

static void TakeFound(const WIN32_FIND_DATAW *data, FoundEntry *entry)
{
    lstrcpynW((LPWSTR)entry->Name, data->cFileName, PATH_CHARS);
    entry->Kind = 0;
    if (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        entry->Kind |= FOUND_DIRECTORY;
    if (data->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        entry->Kind |= FOUND_LINK;
}

SearchHandle FindFirstEntry(const char16_t *pattern, FoundEntry *entry)
{
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(Wide(pattern), &data);
    if (search == INVALID_HANDLE_VALUE)
        return nullptr;
    TakeFound(&data, entry);
    return search;
}

bool FindNextEntry(SearchHandle search, FoundEntry *entry)
{
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(search, &data))
        return false;
    TakeFound(&data, entry);
    return true;
}

void FindEnd(SearchHandle search) { FindClose(search); }

// The bytes of the character at p: CharNextA's step (one byte where a lead
// byte ends the text), or in a UTF-8 code page, which CharNextA steps byte
// by byte, the size its first byte announces, never past the zero.
static int CharSize(const char *p)
{
    if (GetACP() != CP_UTF8)
        return (int)(CharNextA(p) - p);
    uint8_t first = (uint8_t)*p;
    int size = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    for (int i = 1; i < size; i++)
        if (!p[i])
            return i;
    return size;
}

// The system's own conversion decides, as it would for a file's name: it
// refuses bytes that form no character.
uint32_t DecodeChar(const char *p, char16_t *out, uint32_t *units)
{
    int size = CharSize(p);
    int got = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, p, size, (LPWSTR)out, 2);
    if (got <= 0)
        return 0;
    *units = (uint32_t)got;
    return (uint32_t)size;
}

bool FileIsAbsent(const char16_t *path)
{
    if (GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CanOpenForWriting(const char16_t *path)
{
    // What OpenFile's OF_READWRITE with default sharing asks for, without
    // its 128-character path limit.
    HANDLE file = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// One folder and a separator at at; their length. A folder that does not
// fit its room (never seen) is left out.
static UINT AddSearchFolder(WCHAR *at, UINT length)
{
    if (length == 0 || length >= PATH_CHARS)
        return 0;
    at[length] = ';';
    return length + 1;
}

// The platform's own search for a program, less the image's folder and the
// current folder: "folder;system;windows;PATH", or "folder;". (An empty last
// entry would stand for the current folder, which is folder itself.)
bool FindProgram(const char16_t *name, const char16_t *folder, bool everywhere,
                 char16_t *path)
{
    DWORD pathChars = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    WCHAR *folders = (WCHAR *)HeapAllocBlock((3 * PATH_CHARS + 1 + pathChars) * 2);
    if (!folders)
        return false;
    UINT at = AddSearchFolder(folders, lstrlenW(lstrcpynW(folders, Wide(folder), PATH_CHARS)));
    if (everywhere) {
        at += AddSearchFolder(folders + at, GetSystemDirectoryW(folders + at, PATH_CHARS));
        at += AddSearchFolder(folders + at, GetWindowsDirectoryW(folders + at, PATH_CHARS));
        folders[at] = 0;
        GetEnvironmentVariableW(L"PATH", folders + at, pathChars);
    } else {
        folders[at] = 0;
    }
    DWORD length = SearchPathW(folders, Wide(name), L".exe", PATH_CHARS, (LPWSTR)path, nullptr);
    HeapFreeBlock(folders);
    return length > 0 && length < PATH_CHARS && !IsFolder(path);
}

// The start-up record of every process the program starts: only the show
// state is given.
static STARTUPINFOW StartupRecord;

ProcessHandle StartProgram(const char16_t *command)
{
    StartupRecord.cb = sizeof StartupRecord;
    StartupRecord.dwFlags = STARTF_USESHOWWINDOW;
    StartupRecord.wShowWindow = SW_SHOWDEFAULT;
    // CreateProcessW may write into the command line: give it a copy.
    char16_t *line = HeapCopyText(command);
    if (!line)
        return nullptr;
    PROCESS_INFORMATION started;
    BOOL ok = CreateProcessW(nullptr, (LPWSTR)line, nullptr, nullptr, FALSE,
                             DETACHED_PROCESS | NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP,
                             nullptr, nullptr, &StartupRecord, &started);
    HeapFreeBlock(line);
    if (!ok)
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

int WaitForProcess(ProcessHandle process, uint32_t ms)
{
    if (!process)
        return PROCESS_WAIT_FAILED;
    switch (WaitForSingleObject(process, ms)) {
    case WAIT_OBJECT_0:
        return PROCESS_ENDED;
    case WAIT_TIMEOUT:
        return PROCESS_RUNNING;
    }
    return PROCESS_WAIT_FAILED;
}

void CloseProcess(ProcessHandle process) { CloseHandle(process); }

void Pause(uint32_t ms) { Sleep(ms); }

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A key message is turned into its character message, which a
        // later turn dispatches; the key message itself is not.
        if (!TranslateMessage(&message))
            DispatchMessageW(&message);
    }
}

void EnableInput(WindowHandle window, bool enabled) { EnableWindow((HWND)window, enabled); }

// ---- Elevated runs ----------------------------------------------------------------

// ntdll is in every process; its calls are looked up, so the imports stay
// kernel32, user32 and gdi32.
static void *NtCall(const char *name) { return LoadedCall(L"ntdll.dll", name); }

// The handle that always names the calling process (GetCurrentProcess's).
#define CURRENT_PROCESS ((HANDLE)(LONG_PTR)-1)

bool RunsElevated()
{
    typedef LONG(NTAPI * OpenTokenProc)(HANDLE, ACCESS_MASK, PHANDLE);
    typedef LONG(NTAPI * QueryTokenProc)(HANDLE, int, void *, ULONG, PULONG);
    OpenTokenProc openToken = (OpenTokenProc)NtCall("NtOpenProcessToken");
    QueryTokenProc queryToken = (QueryTokenProc)NtCall("NtQueryInformationToken");
    HANDLE token;
    if (!openToken || !queryToken || openToken(CURRENT_PROCESS, TOKEN_QUERY, &token) != 0)
        return false;  // a system without integrity levels has no elevation either
    // The label's SID follows the record; its last sub-authority is the level.
    union {
        TOKEN_MANDATORY_LABEL Label;
        BYTE Room[64];
    } level;
    ULONG size;
    bool high = false;
    if (queryToken(token, TokenIntegrityLevel, &level, sizeof level, &size) == 0) {
        const BYTE *sid = (const BYTE *)level.Label.Label.Sid;
        high = sid[1] > 0 && ((const DWORD *)(sid + 8))[sid[1] - 1] >= SECURITY_MANDATORY_HIGH_RID;
    }
    CloseHandle(token);
    return high;
}

// NtCreateFile's arguments, as the kernel documents them.
#define NT_FILE_CREATE 2                 // fails when the name exists
#define NT_FILE_DIRECTORY_FILE 0x01
#define NT_FILE_SYNCHRONOUS_IO_NONALERT 0x20
#define NT_FILE_OPEN_REPARSE_POINT 0x00200000
#define NT_OBJ_CASE_INSENSITIVE 0x40

// CreateDirectoryW and then CreateFileW would leave a moment in which the
// user, who may rename anything in a folder of their own, swaps the new
// folder for another: the kernel's own call makes and opens it at once.
FileHandle CreateHeldFolder(const char16_t *path, const uint8_t *descriptor)
{
    typedef LONG(NTAPI * CreateProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                     PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    CreateProc create = (CreateProc)NtCall("NtCreateFile");
    if (!create)
        return INVALID_FILE;
    // The kernel's name: "\??\C:\..." for a drive, "\??\UNC\server\..." for a
    // share ("\\server\...").
    char16_t name[PATH_CHARS + 8];
    CopyBytes(name, u"\\??\\UNC", 16);
    uint32_t at = 4;
    if (path[0] == '\\' && path[1] == '\\') {
        at = 7;
        path++;
    }
    uint32_t length = TextLength(path);
    CopyBytes(name + at, path, length * 2);
    at += length;
    UNICODE_STRING unicode;
    unicode.Length = unicode.MaximumLength = (USHORT)(at * 2);
    unicode.Buffer = (PWSTR)name;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &unicode;
    attributes.Attributes = NT_OBJ_CASE_INSENSITIVE;
    attributes.SecurityDescriptor = (PVOID)descriptor;
    IO_STATUS_BLOCK status;
    HANDLE folder;
    if (create(&folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes,
               &status, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NT_FILE_CREATE,
               NT_FILE_DIRECTORY_FILE | NT_FILE_SYNCHRONOUS_IO_NONALERT |
                   NT_FILE_OPEN_REPARSE_POINT,
               nullptr, 0) != 0)
        return INVALID_FILE;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(folder);
        return INVALID_FILE;
    }
    return folder;
}
