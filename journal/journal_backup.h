// A backup of the journal: a copy of one committed state, taken while other
// processes may import, that never replaces a file.
#pragma once

#include <cstdint>
#include <string>

#include "journal/journal_store.h"

namespace veks {

// Copies the journal open in `store`, whose file is `journal`, to `target` by
// SQLite's online backup, in one read transaction. The copy is made under a
// temporary name beside `target` and linked into place, so a file that exists
// at `target` (or appears there meanwhile) is never replaced: that, a target
// that is the journal itself (or a file SQLite keeps beside it), and the
// system's refusals (a missing folder, no permission) throw kBackupTarget,
// with the temporary file removed. The copy is one file, with no -wal beside
// it. Returns the number of events it holds.
std::int64_t BackupJournal(JournalStore& store, const std::string& journal,
                           const std::string& target);

}  // namespace veks
