// The browsing state shared by the window's handlers, the block loader and the
// reports. It lives as long as the process (or one command-line run).
#pragma once

#include <cstdint>
#include <string>

namespace veks {

struct ViewState {
  std::string ArchiveName;  // path of the archive file; empty until one is chosen
  std::string ArchiveExt;   // extension of the last chosen name, with its dot
  // Which block, counted from the newest (1), the plain view shows; 0 acts as 1.
  std::int32_t BlockDepth = 0;
  std::int32_t InputNumber = 0;  // input for the input filter, 1 to 255
  std::string SearchDate;        // the picked date as "dd.mm.yy"

  // One-shot requests: raised by a handler, acted on and cleared by the loader.
  std::int32_t DateSearch = 0;  // acted on only when exactly 1
  std::int32_t InputFilter = 0;
  std::int32_t StepForward = 0;
  std::int32_t StepBack = 0;

  // Ring byte offset of the next record to copy; kept between loads.
  std::int32_t Cursor = 0;
  // Data rows written by the last load that filled the table, blank row included.
  std::int32_t RowsShown = 0;
};

}  // namespace veks
