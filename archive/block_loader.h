// The block loader: one run reads the archive, chooses the records to show by
// the request in the view state, and rewrites the event table.
#pragma once

#include <functional>
#include <string>

#include "archive/archive_file.h"
#include "archive/event_table.h"
#include "archive/loader_host.h"
#include "archive/view_state.h"

namespace veks {

inline constexpr const char* kMsgDateNotFound = "Указанная дата не найдена";
inline constexpr const char* kMsgNoEvents = "нет событий";

enum class LoadOutcome {
  kFilled,          // the table shows a block or the input's records
  kNoArchiveName,   // message shown; request flags cleared
  kCannotOpen,      // message shown; request flags cleared
  kEmpty,           // message shown; request flags cleared
  kBadWriteOffset,  // message shown; request flags cleared
  kDateNotFound,    // message shown; request flags cleared, table kept
  kNoEvents,        // message shown; request flags cleared, table kept
};

// Reads the archive named by the view state. LoadArchive reads the file; a
// caller that holds the bytes already (the fuzz target) passes its own.
using ArchiveReader = std::function<LoadResult(const std::string& path)>;

// Runs the loader once. The first request flag that is set picks the view:
// StepForward, StepBack, InputFilter, DateSearch (when 1); otherwise the plain
// view at BlockDepth. Every run clears all four flags, also one that ends
// early, so a request never outlives the run it was made for.
// Messages go to the host and the run returns only after the host returns.
LoadOutcome RunBlockLoader(ViewState& state, EventTable& table, LoaderHost& host,
                           const ArchiveReader& read = LoadArchive);

}  // namespace veks
