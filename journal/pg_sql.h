// The journal's statements are written once, as SQLite reads them; the server
// reads a few things otherwise. PgStatementText rewrites what is mechanical.
#pragma once

#include <string>
#include <string_view>

namespace veks {

// `sql` as the server reads it: "?N" placeholders become "$N"; SQLite's
// index hints go ("+column", which keeps the planner off an index, becomes
// "column"; "INDEXED BY name" is dropped); "unixepoch(x)" becomes the
// seconds of x read as a timestamp. Quoted texts and names stay as written.
[[nodiscard]] std::string PgStatementText(std::string_view sql);

}  // namespace veks
