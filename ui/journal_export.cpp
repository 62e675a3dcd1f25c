#include "ui/journal_export.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <array>
#include <ostream>
#include <streambuf>

#include "archive/archive_format.h"
#include "journal/journal_output.h"
#include "journal/note_output.h"

namespace {

// Export lines go to the file a buffer at a time.
class FileStreamBuf : public std::streambuf {
 public:
  explicit FileStreamBuf(QIODevice& device) : device_(device) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }

 protected:
  int_type overflow(int_type ch) override {
    if (!flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return flush() ? 0 : -1; }

 private:
  bool flush() {
    const qint64 size = pptr() - pbase();
    if (size > 0 && device_.write(pbase(), size) != size) return false;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return true;
  }

  QIODevice& device_;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace

veks::ExportFormat ExportFormatOf(const QString& fileName, const QString& filter) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  const bool jsonl = suffix == QLatin1String("jsonl") ||
                     (suffix != QLatin1String("csv") &&
                      (filter == kExportJsonlFilter || filter == kExportNotesJsonlFilter));
  return jsonl ? veks::ExportFormat::kJsonl : veks::ExportFormat::kCsv;
}

bool ExportsNotes(const QString& filter) {
  return filter == kExportNotesCsvFilter || filter == kExportNotesJsonlFilter;
}

std::optional<QString> ExportRefusal(const QString& target, const OwnFiles& own) {
  switch (OwnFileAt(target, own)) {
    case OwnFile::kArchive:
      return QStringLiteral("Экспорт не может заменить файл архива: ") +
             QDir::toNativeSeparators(target);
    case OwnFile::kJournal:
      return QStringLiteral("Экспорт не может заменить файл журнала: ") +
             QDir::toNativeSeparators(target);
    case OwnFile::kNone:
      break;
  }
  return std::nullopt;
}

ExportFileOutcome ExportToFile(veks::Journal& journal, const veks::EventFilter& filter,
                               veks::ExportFormat format, const QString& fileName, bool notes,
                               const std::function<bool()>& keepGoing) {
  const QString shown = QDir::toNativeSeparators(fileName);
  QSaveFile file(fileName);
  const auto failed = [&] {
    return ExportFileOutcome{0, shown + QStringLiteral(": ") + file.errorString(), false};
  };
  if (!file.open(QIODevice::WriteOnly)) return failed();
  // A byte-order mark tells spreadsheet programs that the CSV is UTF-8.
  if (format == veks::ExportFormat::kCsv && file.write("\xEF\xBB\xBF", 3) != 3) return failed();
  FileStreamBuf buffer(file);
  std::ostream out(&buffer);
  bool stopped = false;
  veks::JournalOutput written;
  if (notes) {
    auto noted = WriteNotesExport(journal, filter, format, out);
    if (noted.ok()) {
      written.events = noted.value();
    } else {
      written.error = noted.error();
    }
  } else {
    written = veks::WriteJournalExport(journal, filter, format, out, [&] {
      stopped = keepGoing && !keepGoing();
      return !stopped;
    });
  }
  out.flush();
  if (stopped) {
    file.cancelWriting();
    return ExportFileOutcome{0, std::nullopt, false, true};
  }
  if (written.error) {
    file.cancelWriting();
    return ExportFileOutcome{0,
                             QStringLiteral("%1 не записан: %2")
                                 .arg(shown, QString::fromStdString(written.error->message)),
                             written.error->kind == veks::JournalError::Kind::kNoEvents};
  }
  if (!out || !file.commit()) return failed();
  return ExportFileOutcome{written.events, std::nullopt, false};
}

veks::JournalResult<std::int64_t> WriteNotesExport(veks::Journal& journal,
                                                   const veks::EventFilter& filter,
                                                   veks::ExportFormat format, std::ostream& out) {
  veks::NoteFilter notes;
  notes.device = filter.device;
  notes.fromDate = filter.fromDate;
  notes.toDate = filter.toDate;
  auto read = journal.notes(notes);
  if (!read.ok()) return read.error();
  // An event passes the input and kind filters by its bytes, as the journal
  // decides it from the columns it keeps of them.
  const auto passes = [&](const veks::NoteVersion& note) {
    if (!note.event) return !filter.input && !filter.eventText;
    const veks::EventRecord& raw = *note.event;
    if (filter.input && (raw[veks::kCodeByte] > 4 || raw[veks::kArgumentByte] != *filter.input)) {
      return false;
    }
    return !filter.eventText || veks::TrimmedEventTexts(raw)[0] == *filter.eventText;
  };
  veks::NoteWriter writer(out, format);
  std::int64_t written = 0;
  for (const veks::NoteVersion& note : read.value()) {
    if (!passes(note)) continue;
    writer.write(note);
    ++written;
  }
  return written;
}
