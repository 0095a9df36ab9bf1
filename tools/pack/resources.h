// Shared by the packer's writers of the program's resources: the version
// resource, which the resource section carries.
#pragma once

#include "bytes.h"
#include "pack.h"

namespace pack::resource {

// The RT_VERSION resource of the program: VS_VERSION_INFO, its string table
// in U.S. English and Unicode, the Translation that names it.
Bytes VersionInfo(const ProgramResources &resources);
// The option whose text takes the most room in the version resource, with
// its length ("--copyright, 40000 characters"): what a message about the
// resource's size names.
std::string LongestVersionText(const ProgramResources &resources);
// The fixed file version and the strings of a version resource, into info.
void ReadVersionStrings(const Bytes &data, ProgramInfo *info);

// A dialog template (RT_DIALOG) of the stub in language with the
// publisher's title, banner and link (dialogs.cpp). Throws PackError.
Bytes BrandDialog(const Bytes &data, uint32_t language, const ProgramResources &program);
// The dialogs' title, banner and link from the options (their -ja forms
// defaulting to the plain ones, the banner to --product), into program;
// refuses a link that is no web address and a text that does not fit its
// line. Throws PackError.
void DialogTextsFrom(const std::map<std::string, std::string> &given, ProgramResources &program);
// The dialog texts of a template, into info (nothing for a damaged one).
void ReadDialogTexts(const Bytes &data, uint32_t form, uint32_t language, ProgramInfo *info);

}  // namespace pack::resource
