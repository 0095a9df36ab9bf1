// The unique temporary folder of an elevated run. The user's temporary
// folder belongs to the user, and every program the user runs at the medium
// level may write, rename and replace anything in it. A folder made there
// with the rights it inherits would let such a program swap an extracted
// file or the whole folder before the elevated run starts the follow-up
// program. So an elevated run makes its folder with access for SYSTEM and
// administrators only, and holds it open so that it cannot be renamed.
#include "extract.h"

#include "../messages/messages.h"

// A self-relative security descriptor, laid out as the platform documents
// SECURITY_DESCRIPTOR_RELATIVE, ACL and ACCESS_ALLOWED_ACE (little-endian):
//
//   header   revision 1; control SE_DACL_PRESENT | SE_DACL_PROTECTED |
//            SE_SELF_RELATIVE (0x9004): the folder inherits nothing from
//            its parent; no owner, group or SACL (offset 0), so the owner is
//            the token's default (administrators, or SYSTEM); the DACL at 20
//   ACL      revision 2, 52 bytes, two entries
//   ACE 1    allowed, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE (0x03):
//            every file and folder made inside gets it too; FILE_ALL_ACCESS
//            (0x001F01FF); SID S-1-5-18 (SYSTEM)
//   ACE 2    the same for S-1-5-32-544 (the Administrators group)
const uint8_t OwnFolderDescriptor[OWN_FOLDER_DESCRIPTOR_BYTES] = {
    1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
    2, 0, 52, 0, 2, 0, 0, 0,
    0, 0x03, 20, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    0, 0x03, 24, 0, 0xFF, 0x01, 0x1F, 0x00, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,
};
static_assert(sizeof OwnFolderDescriptor == 20 + 8 + 20 + 24, "header, ACL, two entries");

static FileHandle HeldFolder;  // null: none

bool MakeHeldFolder(const char16_t *path)
{
    FileHandle folder = CreateHeldFolder(path, OwnFolderDescriptor);
    if (folder == INVALID_FILE)
        return false;
    HeldFolder = folder;
    return true;
}

void ReleaseHeldFolder()
{
    if (HeldFolder)
        CloseFile(HeldFolder);
    HeldFolder = nullptr;
}
