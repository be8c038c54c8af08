// POSIX access control lists of a file, as kept in the "system.posix_acl_access" and
// "system.posix_acl_default" extended attributes.
#pragma once

#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb {

// Removes the access list of the open file `fd` and, for a directory, its default list,
// leaving the plain permission bits. The owning group keeps only what the list let it have
// (its entry masked by the mask entry): the group bits of the mode, which carried the mask
// while the list existed, are narrowed to that before the list goes, so that removing a
// list never widens anyone's access. A file without a list, or on a file system without
// lists, succeeds untouched. `fd` must be opened for reading (not O_PATH).
Result<void, SystemError> removePosixAcl(int fd);

// Whether `fd` carries an access or default list (for tests and checks).
Result<bool, SystemError> hasPosixAcl(int fd);

}  // namespace kb
