// The follow-up program: the configured command runs in the destination
// folder after extraction; the dialog stays painted but closed to input
// until the program has ended and the wait file is free.
#include "extract.h"

#include "../messages/messages.h"

#define WAIT_SLICE_MS 50
#define FILE_PAUSE_MS 50
#define AFTER_END_MS 100

bool IsFileFree(const char16_t *path)
{
    // Absent only when the platform says so: a file held without any
    // sharing cannot even be opened to be looked at, and is busy.
    if (FileIsAbsent(path))
        return true;
    return CanOpenForWriting(path);
}

void RunAndWait(const char16_t *command, const char16_t *waitFile,
                const char16_t *destination)
{
    if (!SetCurrentFolder(destination))
        return;
    EnableInput(MainWindow, false);

    // The destination's full path, whatever the user typed: the program is
    // looked for there before anywhere else.
    char16_t folder[PATH_CHARS];
    char16_t *line = GetCurrentFolder(folder) ? ProgramLine(command, folder) : nullptr;
    ProcessHandle process = line ? StartProgram(line) : nullptr;
    HeapFreeBlock(line);
    int state;
    while ((state = WaitForProcess(process, WAIT_SLICE_MS)) == PROCESS_RUNNING)
        PumpMessages();
    if (state != PROCESS_ENDED)
        FatalString(IDS_INSTALL_FAILED);
    Pause(AFTER_END_MS);
    CloseProcess(process);

    if (*waitFile) {
        char16_t path[PATH_CHARS];
        // A name that does not fit names no file this run can wait on.
        if (JoinPath(path, destination, waitFile)) {
            while (!IsFileFree(path)) {
                Pause(FILE_PAUSE_MS);
                PumpMessages();
            }
        }
    }
    EnableInput(MainWindow, true);
}
