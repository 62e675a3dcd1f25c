// Which journal file the program works with: the one the operator last
// opened in the journal window, kept in the settings, or else the default
// one under the user's data folder.
#pragma once

#include <QString>
#include <optional>

// The journal file the program works with: the one last opened in the
// journal window (kept in the settings), else the default one. Nothing when
// neither is known.
[[nodiscard]] std::optional<QString> JournalFilePath();
// Remembers `path` as the journal file; an empty path returns to the default.
void SetJournalFilePath(const QString& path);
// Why there is no journal file to work with.
[[nodiscard]] QString NoJournalPathText();
