// Win32 implementation of the platform layer: the only code of the program
// that calls the kernel, and the user services that the core needs (string
// resources, message boxes, repaint).
#include "../platform.h"

#include <windows.h>

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
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    SetDirsProc setDirs =
        kernel ? (SetDirsProc)(void *)GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
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
    HMODULE user = GetModuleHandleW(L"user32.dll");
    DisableProc disable =
        user ? (DisableProc)(void *)GetProcAddress(user, "DisableProcessWindowsGhosting") : nullptr;
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

void UnloadLibrary(ModuleHandle module) { FreeLibrary((HMODULE)module); }

void *FindEntry(ModuleHandle module, const char *name)
{
    return (void *)GetProcAddress((HMODULE)module, name);
}

bool CallWithInstance(void *entry)
{
    return ((BOOL(WINAPI *)(HINSTANCE))entry)((HINSTANCE)ModuleInstance) != 0;
}

void CallWithoutArguments(void *entry) { ((BOOL(WINAPI *)())entry)(); }

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
    DWORD length = GetTempPathW(PATH_CHARS, (LPWSTR)buffer);
    if (length == 0 || length >= PATH_CHARS) {
        buffer[0] = 0;
        return 0;
    }
    return length;
}

uint32_t ExpandReferences(const char16_t *text, char16_t *buffer, uint32_t size)
{
    // The count includes the terminating zero; a result too long for the
    // buffer returns the size it needs.
    DWORD needed = ExpandEnvironmentStringsW(Wide(text), (LPWSTR)buffer, size);
    if (needed == 0 || needed > size) {
        buffer[0] = 0;
        return 0;
    }
    return needed - 1;
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

uint32_t TickCount() { return GetTickCount(); }

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
