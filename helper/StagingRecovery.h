// Start-up recovery of the items a killed helper left in staging.
//
// For every staging record (StagingRecord.h) the staging subdirectory is looked up in the
// Trash the record names (never through a symbolic link): by its name, or among the
// Trash's staging subdirectories by device and inode when the account renamed it. It must
// still be a root-owned directory with mode 0700. An item found in it is re-owned to the
// record's account and moved into that account's Trash under a free name ("recovered
// ORIGINAL from staging: moved to TRASHED"); a copy found in it, whose original is still
// in place, is deleted ("deleted an unfinished copy of ORIGINAL; the original is in
// place"). Then the subdirectory and the record are removed. An item that cannot be moved
// keeps its record for the next start. A record whose subdirectory is gone is dropped.
//
// The fixed staging directory of earlier versions is emptied the same way when it is ours
// (a root-owned directory with mode 0700, not a link): each item in its subdirectories
// goes, re-owned, to the Trash of the account that owns it, then the directory is removed.
// An item owned by root (killed before its re-own: its account is unknown) is left there
// and logged. Anything else at that path is not ours and is left alone.
//
// Lines go to the operations log: notice for what was recovered, error for what could not
// be. Call once at start-up, before requests are served.
#pragma once

#include "helper/RootFileOpsSettings.h"

namespace kb {

void recoverStaging(const RootFileOpsSettings& settings);

}  // namespace kb
