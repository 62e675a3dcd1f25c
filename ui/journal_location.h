// Which journal the program works with: a file or a server's journal, the
// one the operator last chose (kept in the settings, without any password),
// or else the default file under the user's data folder.
#pragma once

#include <QString>
#include <optional>

class QWidget;
class UiServices;

// The journal's location: a file's path or a server's URI
// ("postgresql://..."), the one last chosen, else the default file. Nothing
// when neither is known.
[[nodiscard]] std::optional<QString> JournalLocation();
// Remembers `location` as the journal; an empty one returns to the default.
void SetJournalLocation(const QString& location);
// Whether the location names a server rather than a file.
[[nodiscard]] bool IsServerJournal(const QString& location);
// The location as the operator reads it: a server's URI without a password,
// a file's path with the system's separators.
[[nodiscard]] QString ShownJournalLocation(const QString& location);
// The location when it is a file: what no save or export may replace.
[[nodiscard]] std::optional<QString> JournalFileOf(const std::optional<QString>& location);
// Why there is no journal file to work with.
[[nodiscard]] QString NoJournalPathText();

// For a server's journal that could not be opened: connects once more, off
// the GUI thread, and while the server wants a password that nothing gave
// (or refused the one given), asks the operator for it and remembers it for
// this process. True when a password was given, so that opening again may
// succeed; false for a file, a cancel or any other failure.
[[nodiscard]] bool AskServerPassword(QWidget* parent, UiServices& services,
                                     const QString& location);
