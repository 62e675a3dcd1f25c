// Renaming a device, and joining two devices into one history.
#pragma once

#include <string>

#include "journal/journal_store.h"
#include "journal/journal_types.h"

namespace veks {

// Gives `device` the name `newName` in one transaction. When `newName` names
// no device, `device` only changes its name. When it does, `device`'s history
// joins that device's by the import rules: `device`'s segments, in their
// order and ranked after every segment of `newName`, are each taken as one
// copy (JoinSegment); its imports and notes go along and `device` is gone. With
// distinct events the resulting history is the same whichever device the
// copies first went to.
//
// Throws JournalError: kBadDeviceName when a name is not one an operator may
// give (IsValidDeviceName) or the two are equal, kUnknownDevice when
// `device` names none. Nothing is written then.
RenameOutcome RenameDevice(JournalStore& store, const std::string& device,
                           const std::string& newName);

}  // namespace veks
