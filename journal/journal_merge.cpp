#include "journal/journal_merge.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <tuple>

#include "journal/import_undo.h"
#include "journal/journal_import.h"
#include "journal/journal_notes.h"

namespace veks {
namespace {

// The versions of a note stored here, each as often as it stands.
std::map<NoteVersionCopy, int> StoredVersions(JournalStore& store, std::int64_t number) {
  std::map<NoteVersionCopy, int> versions;
  StatementLease read = store.statement(
      "SELECT kind, text, author, written, deleted FROM note_versions WHERE note = ?1");
  read.bind(1, number);
  while (read.step()) {
    ++versions[{std::string(read.text(0)), std::string(read.text(1)), std::string(read.text(2)),
                std::string(read.text(3)), read.integer(4) != 0}];
  }
  return versions;
}

void AppendVersions(JournalStore& store, std::int64_t number, std::int64_t after,
                    std::span<const NoteVersionCopy> versions) {
  StatementLease insert = store.statement(
      "INSERT INTO note_versions (note, version, kind, text, author, written, deleted) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  for (const NoteVersionCopy& v : versions) {
    insert.bind(1, number).bind(2, ++after).bind(3, std::string_view(v.kind));
    insert.bind(4, std::string_view(v.text)).bind(5, std::string_view(v.author));
    insert.bind(6, std::string_view(v.written)).bind(7, std::int64_t{v.deleted ? 1 : 0});
    insert.run();
  }
}

// Brings one note of the other journal here: a note this journal lacks is
// added at `place` (an event note's event as it stands now) with all its
// versions; one it holds gains the versions it lacks. True when anything
// was written.
bool MergeNote(JournalStore& store, std::int64_t device, const NoteCopy& note,
               const std::optional<EventPlace>& place) {
  StatementLease find = store.statement("SELECT number FROM notes WHERE uuid = ?1");
  find.bind(1, std::string_view(note.uuid));
  if (!find.step()) {
    find.reset();
    StatementLease insert = store.statement(
        "INSERT INTO notes (uuid, device_id, segment_id, seq, raw, at) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, std::string_view(note.uuid)).bind(2, device).bind(6, note.moment);
    if (note.event && place) {
      insert.bind(3, place->segment).bind(4, place->seq).bind(5, Bytes(*note.event));
    } else if (note.event) {
      insert.bindNull(3).bindNull(4).bind(5, Bytes(*note.event));  // it waits here too
    } else {
      insert.bindNull(3).bindNull(4).bindNull(5);
    }
    insert.run();
    AppendVersions(store, store.lastInsertId(), 0, note.versions);
    return true;
  }
  const std::int64_t number = find.integer(0);
  find.reset();
  // Where a note stands was settled when it was first added; only its
  // versions can differ.
  std::map<NoteVersionCopy, int> held = StoredVersions(store, number);
  std::int64_t count = 0;
  for (const auto& [version, times] : held) count += times;
  std::vector<NoteVersionCopy> missing;
  for (const NoteVersionCopy& v : note.versions) {
    auto found = held.find(v);
    if (found != held.end() && found->second > 0) {
      --found->second;
    } else {
      missing.push_back(v);
    }
  }
  // Deletes go last, so that a note this journal still shows is not
  // followed by its own edits after its delete.
  std::stable_sort(missing.begin(), missing.end(),
                   [](const NoteVersionCopy& a, const NoteVersionCopy& b) {
                     return std::tie(a.deleted, a.written) < std::tie(b.deleted, b.written);
                   });
  AppendVersions(store, number, count, missing);
  return !missing.empty();
}

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return UtcMomentText(now);
}

}  // namespace

std::string MergeOutcomeText(const MergeOutcome& outcome) {
  ImportOutcome added;
  added.kind = ImportOutcome::Kind::kAdded;
  added.device = outcome.device;
  added.newEvents = outcome.newEvents;
  added.newSegment = outcome.newSegment;
  added.joinedSegments = outcome.joinedSegments;
  std::string text = ImportOutcomeText(added);
  if (outcome.notes > 0) text += "; примечаний: " + std::to_string(outcome.notes);
  return text;
}

std::int64_t ForEachDeviceCopy(JournalStore& store,
                               const std::function<bool(const DeviceCopy&)>& visit) {
  const ReadSnapshot snapshot(store);
  std::int64_t visited = 0;
  for (const auto& [id, name] : store.devicesByName()) {
    DeviceCopy device{name, {}, {}};
    // Segment ids to their index in `segments` and their first seq.
    std::map<std::int64_t, std::pair<std::size_t, std::int64_t>> segments;
    StatementLease list = store.statement(
        "SELECT id, first_seq FROM segments WHERE device_id = ?1 ORDER BY rank, id");
    list.bind(1, id);
    while (list.step()) {
      segments[list.integer(0)] = {segments.size(), list.integer(1)};
    }
    list.reset();
    device.segments.resize(segments.size());
    StatementLease events =
        store.statement("SELECT raw FROM events WHERE segment_id = ?1 ORDER BY seq", Rows::kMany);
    for (const auto& [segment, at] : segments) {
      events.bind(1, segment);
      while (events.step()) device.segments[at.first].push_back(RecordOf(events.blob(0)));
      events.reset();
    }
    if (store.hasNotes()) {
      StatementLease notes = store.statement(
          "SELECT number, uuid, segment_id, seq, raw, at FROM notes WHERE device_id = ?1 "
          "ORDER BY number");
      StatementLease versions = store.statement(
          "SELECT kind, text, author, written, deleted FROM note_versions WHERE note = ?1 "
          "ORDER BY version");
      notes.bind(1, id);
      while (notes.step()) {
        NoteCopy note;
        note.uuid = std::string(notes.text(1));
        if (!notes.isNull(4) && notes.isNull(2)) {
          note.event = RecordOf(notes.blob(4));
          note.waiting = true;
        } else if (!notes.isNull(4)) {
          const auto found = segments.find(notes.integer(2));
          // A note whose event is gone is damage that `check` reports; a
          // merge does not spread it.
          if (found == segments.end()) continue;
          note.event = RecordOf(notes.blob(4));
          note.segment = found->second.first;
          note.position = static_cast<std::size_t>(notes.integer(3) - found->second.second);
        }
        if (!notes.isNull(5)) note.moment = std::string(notes.text(5));
        versions.bind(1, notes.integer(0));
        while (versions.step()) {
          note.versions.push_back({std::string(versions.text(0)), std::string(versions.text(1)),
                                   std::string(versions.text(2)), std::string(versions.text(3)),
                                   versions.integer(4) != 0});
        }
        versions.reset();
        device.notes.push_back(std::move(note));
      }
    }
    ++visited;
    if (!visit(device)) break;
  }
  return visited;
}

MergeOutcome MergeDevice(JournalStore& store, const DeviceCopy& device, const std::string& source) {
  MergeOutcome outcome{device.name};
  store.resetStatements();
  WriteTransaction transaction(store);
  store.lockDevices({device.name});
  std::optional<std::int64_t> id = store.deviceId(device.name);
  // A device is made by its first event: one that has none stays away.
  const bool hadHistory = id.has_value();
  std::int64_t copied = 0;
  for (const auto& segment : device.segments) copied += static_cast<std::int64_t>(segment.size());
  if (copied == 0) return outcome;
  if (!id) {
    store.statement("INSERT INTO devices (name) VALUES (?1)")
        .bind(1, std::string_view(device.name))
        .run();
    id = store.lastInsertId();
  } else {
    // The segments the merge joins are beyond what the record of the
    // device's last import can undo.
    ForgetImportChange(store, *id);
  }

  // The notes of a segment's events go on the events while their places are
  // known, right after it joins: what later segments move, the notes follow.
  std::vector<std::vector<const NoteCopy*>> bySegment(device.segments.size());
  for (const NoteCopy& note : device.notes) {
    if (note.event && !note.waiting) bySegment[note.segment].push_back(&note);
  }
  bool changed = false;
  for (std::size_t i = 0; i < device.segments.size(); ++i) {
    const StitchedCopy stitched = StitchCopy(store, *id, device.segments[i]);
    outcome.newEvents += stitched.gained;
    outcome.newSegment |= hadHistory && stitched.kind == StitchPlan::Kind::kNewSegment;
    outcome.joinedSegments |= stitched.joinedSegments >= 2;
    changed |= stitched.kind == StitchPlan::Kind::kNewSegment ||
               stitched.kind == StitchPlan::Kind::kJoined;
    for (const NoteCopy* note : bySegment[i]) {
      const EventPlace place{stitched.start.segment,
                             stitched.start.seq + static_cast<std::int64_t>(note->position)};
      outcome.notes += MergeNote(store, *id, *note, place) ? 1 : 0;
    }
  }
  for (const NoteCopy& note : device.notes) {
    if (!note.event || note.waiting) {
      outcome.notes += MergeNote(store, *id, note, std::nullopt) ? 1 : 0;
    }
  }
  if (changed) {
    store
        .statement(
            "INSERT INTO imports (device_id, archive, imported_at, copy_events, new_events) "
            "VALUES (?1, ?2, ?3, ?4, ?5)")
        .bind(1, *id)
        .bind(2, std::string_view(source))
        .bind(3, std::string_view(UtcNow()))
        .bind(4, copied)
        .bind(5, outcome.newEvents)
        .run();
  }
  transaction.commit();
  return outcome;
}

bool SameJournalFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace veks
