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

}  // namespace pack::resource
