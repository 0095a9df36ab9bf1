// Writing the appended archive to disk, and the destination folder's life.
//
// Every path is UTF-16 text in a caller's buffer of PATH_CHARS units,
// backslash-separated. A folder path gets a backslash appended exactly when
// its last character is not already one.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"

// Checks the image's archive whole (CheckArchive) for ExtractAll, before
// anything is created. Ends the process with "Error reading from archive."
// when it has no entry or does not agree with its central directory: nothing
// of a damaged archive is ever written.
void CheckImageArchive();
// Extracts every entry of the archive that CheckImageArchive checked below
// destination (a PATH_CHARS buffer, possibly empty), which on return holds
// the destination with its trailing backslash. overwrite non-zero: existing
// files are replaced without asking. Ends the process on a cancelled prompt.
void ExtractAll(char16_t *destination, int overwrite);
// Set by ExtractAll when an entry could not be created, written or verified,
// or has a method it cannot decode; the run then ends with exit code 2.
extern bool ExtractionIncomplete;

// Creates every folder named by the text before each backslash of path,
// ignoring every result; path is unchanged afterwards.
void MakeDirs(char16_t *path);
// Makes drive (1 for A, up to 31) current; false for any other number or
// when the drive cannot be selected.
bool SelectDrive(int drive);

// Creates a fresh folder "PH%05u" (1 to 99) below the system temporary
// folder; true when it made one, buffer then holding its path without a
// trailing backslash. An elevated run makes it with MakeHeldFolder, and
// ends the process with a box when it cannot.
bool MakeUniqueTempDir(char16_t *buffer);
// Removes folder with everything below it; links found inside are removed,
// never followed. A held folder is released just before the folder itself,
// emptied, is removed. On return the buffer holds the folder without a
// trailing backslash.
void DeleteTree(char16_t *folder);

// The folder of an elevated run: made with OwnFolderDescriptor (full access
// for SYSTEM and administrators only, inherited by everything inside,
// nothing inherited from the parent) and held open, so that nobody renames
// it, until ReleaseHeldFolder. False when it cannot be made so.
bool MakeHeldFolder(const char16_t *path);
void ReleaseHeldFolder();
#define OWN_FOLDER_DESCRIPTOR_BYTES 72
extern const uint8_t OwnFolderDescriptor[OWN_FOLDER_DESCRIPTOR_BYTES];
// The command line that starts command's program by its full path, quoted,
// with command's arguments unchanged; a fresh heap string, null when the
// program is found nowhere. The program is looked for with FindProgram in
// folder (the destination's full path), and a bare name after that in the
// system's folders and on PATH.
char16_t *ProgramLine(const char16_t *command, const char16_t *folder);
// Runs command (a command line) with destination as the current folder,
// MainWindow closed to input, until the program has ended and waitFile
// (relative to destination; empty: none) is absent or free. Returns at once
// when destination cannot be made current; ends the process with "Install
// Failed. Bad download?" when ProgramLine finds the program nowhere or it
// cannot be started or waited on.
// The current folder is left at destination.
void RunAndWait(const char16_t *command, const char16_t *waitFile,
                const char16_t *destination);
// True when the file is absent, or can be opened for reading and writing.
bool IsFileFree(const char16_t *path);

// out = folder, one backslash, name; out has room for PATH_CHARS characters.
// False (out empty) when the result would not fit.
bool JoinPath(char16_t *out, const char16_t *folder, const char16_t *name);
