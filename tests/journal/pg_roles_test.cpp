// The roles that docs/server-roles.sql makes, in a database of their own on
// the throw-away cluster of scripts/with-test-pg.sh (skipped without it):
// the owner makes and migrates the journal, the writer writes rows of every
// table, old and added by a migration, the reader only reads, and neither of
// the two can make or migrate the journal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "cli/journal_cli.h"
#include "journal/journal_schema.h"
#include "journal/pg_connection.h"
#include "journal/pg_schema.h"
#include "tools/archive_builder.h"

namespace veks {
namespace {

// The script's roles and example users, cluster-wide: one test uses them.
constexpr const char* kRoles[] = {"veks12_admin", "veks12_engineer", "veks12_viewer",
                                  "veks12_owner", "veks12_writer",   "veks12_reader"};
constexpr const char* kSchema = "veks12";

std::string ReadFile(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One row in every table a writer writes (the notes' and undo's tables come
// with a migration), one of them changed and one removed: `tag` names them.
std::string Writes(const std::string& tag) {
  const std::string device = "(SELECT id FROM devices WHERE name = '" + tag + "')";
  const std::string segment = "(SELECT id FROM segments WHERE device_id = " + device + ")";
  const std::string import = "(SELECT id FROM imports WHERE device_id = " + device + ")";
  return "INSERT INTO devices (name) VALUES ('" + tag + "');" +
         "INSERT INTO segments (device_id, rank, first_seq, last_seq, event_count) VALUES (" +
         device + ", 1, 1, 1, 1);" +
         "INSERT INTO events (segment_id, seq, raw, code, argument, date, time, event, input) "
         "VALUES (" +
         segment + ", 1, '\\x00', 0, 0, '', '', '', '');" +
         "INSERT INTO imports (device_id, archive, imported_at, copy_events, new_events) VALUES (" +
         device + ", 'a.dat', '2026-01-01T00:00:00', 1, 1);" +
         "INSERT INTO notes (uuid, device_id, segment_id, seq, raw) VALUES ('" + tag + "', " +
         device + ", " + segment + ", 1, '\\x00');" +
         "INSERT INTO note_versions (note, version, kind, text, author, written, deleted) "
         "SELECT number, 1, '', 't', 'a', '2026-01-01T00:00:00', 0 FROM notes WHERE uuid = '" +
         tag + "';" +
         "INSERT INTO import_undo (import_id, device_id, segment_id, first_seq, last_seq) VALUES "
         "(" +
         import + ", " + device + ", " + segment + ", 1, 1);" +
         "INSERT INTO import_undo_parts (import_id, at_seq, rank, first_seq, event_count) VALUES "
         "(" +
         import + ", 1, 1, 1, 1);" + "UPDATE segments SET rank = 2 WHERE id = " + segment + ";" +
         "DELETE FROM import_undo_parts WHERE import_id = " + import + ";";
}

class PgRolesTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* uri = std::getenv("VEKS_TEST_PG");
    if (uri == nullptr || *uri == '\0') GTEST_SKIP() << "VEKS_TEST_PG is not set: no test server";
    admin_ = std::make_unique<PgConnection>(uri);
    database_ = "veks12_roles_" + std::to_string(getpid());
    admin_->execScript("CREATE DATABASE " + database_);
    // The cluster's URI names its database as "///postgres?".
    std::string location = uri;
    const std::size_t at = location.find("/postgres?");
    ASSERT_NE(at, std::string::npos) << location;
    location_ = location.replace(at, 10, "/" + database_ + "?");
    PgConnection(location_).execScript(ReadFile(VEKS_SERVER_ROLES_SQL));
  }
  void TearDown() override {
    if (!admin_) return;
    admin_->execScript("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    for (const char* role : kRoles) admin_->execScript(std::string("DROP ROLE IF EXISTS ") + role);
  }

  [[nodiscard]] std::string as(const std::string& user) const {
    return location_ + "&user=" + user;
  }
  [[nodiscard]] PgJournalState state() {
    PgConnection connection(location_);
    return InspectPgJournal(connection, kSchema);
  }

  std::unique_ptr<PgConnection> admin_;
  std::string database_;
  std::string location_;
};

// The SQLSTATE of what `work` throws, "" when it throws nothing.
template <typename Work>
std::string Refusal(Work work) {
  try {
    work();
    return "";
  } catch (const PgError& e) {
    return e.sqlstate();
  }
}

TEST_F(PgRolesTest, EachRoleMayWhatItIsFor) {
  const std::string owner = as("veks12_admin");
  const std::string writer = as("veks12_engineer");
  const std::string reader = as("veks12_viewer");
  const std::string older = "журнал более старой версии, обновить его может только его владелец";

  // Stages: the schema stands empty; the owner made an older journal; the
  // owner migrated it. The writer and reader may make or migrate nothing.
  struct Stage {
    const char* name;
    std::optional<std::string> writerReason;
    std::optional<std::string> readerReason;
  };
  const Stage stages[] = {
      {"empty schema", "нет права создать журнал на сервере",
       "нет права создать журнал на сервере"},
      {"older journal", older, older},
  };
  for (const Stage& stage : stages) {
    SCOPED_TRACE(stage.name);
    const PgJournalState before = state();
    for (const auto& [uri, reason] :
         {std::pair(writer, stage.writerReason), std::pair(reader, stage.readerReason)}) {
      PgConnection connection(uri);
      EXPECT_EQ(PgReadOnlyReason(connection, kSchema), reason) << uri;
      EXPECT_EQ(Refusal([&] { CreatePgJournal(connection, kSchema); }), "42501") << uri;
    }
    const PgJournalState after = state();
    EXPECT_EQ(after.kind, before.kind);
    EXPECT_EQ(after.version, before.version);
    PgConnection connection(owner);
    EXPECT_EQ(PgReadOnlyReason(connection, kSchema), std::nullopt);
    // An older journal first, so that its migration adds the notes' and
    // undo's tables: they must take the same grants as the first ones.
    CreatePgJournal(connection, kSchema, kJournalNotesVersion - 1);
  }
  {
    PgConnection connection(owner);
    CreatePgJournal(connection, kSchema);
  }
  EXPECT_EQ(state().version, kJournalSchemaVersion);

  // The command line as each of them: the writer imports; the reader and a
  // read-only session read what it wrote as the writer reads it, and their
  // imports fail and write nothing.
  TempDir dir;
  const std::string first = dir.file("first.dat"), later = dir.file("later.dat");
  ArchiveBuilder()
      .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setWriteOffset(8)
      .writeTo(first);
  ArchiveBuilder()
      .setRecord(0, MakeRecord(7, 0, 8, 0, 0, 28, 11, 13))
      .setRecord(1, MakeRecord(1, 7, 8, 30, 0, 28, 11, 13))
      .setWriteOffset(16)
      .writeTo(later);
  const auto cli = [](const std::string& journal, std::vector<std::string> args) {
    args.insert(args.begin(), {"--journal", journal});
    std::ostringstream out, err;
    const int code = RunJournalCli(args, {}, out, err);
    return std::tuple(code, out.str(), err.str());
  };
  EXPECT_EQ(cli(writer, {"import", "--device", "Котельная", first}),
            std::tuple(0, first + ": Котельная: новых событий: 1\n", std::string()));
  const std::string readOnlySession = writer + "&options=-cdefault_transaction_read_only%3Don";
  for (const auto& [uri, reason] :
       {std::pair(reader, "нет права на запись в журнал"),
        std::pair(readOnlySession, "сеанс сервера только для чтения")}) {
    SCOPED_TRACE(reason);
    for (const char* command : {"devices", "report", "export", "notes", "stats", "due", "check"}) {
      EXPECT_EQ(cli(uri, {command}), cli(writer, {command})) << command;
    }
    EXPECT_EQ(cli(uri, {"import", later}),
              std::tuple(1, std::string(),
                         "veks12-journal: " + ShownServerLocation(uri) + ": " +
                             kMsgJournalReadOnly + ": " + reason + "\n"));
  }
  EXPECT_EQ(
      cli(reader, {"devices"}),
      std::tuple(0, "Котельная\t1\t1\t2013-11-28T08:00:00\t2013-11-28T08:00:00\n", std::string()));

  struct Case {
    const char* name;
    std::string uri;
    std::optional<std::string> reason;
    const char* refusal;  // the SQLSTATE of a write, "" when it succeeds
  };
  const Case cases[] = {
      {"owner", owner, std::nullopt, ""},
      {"writer", writer, std::nullopt, ""},
      {"reader", reader, "нет права на запись в журнал", "42501"},
      {"writer, read-only session", writer + "&options=-cdefault_transaction_read_only%3Don",
       "сеанс сервера только для чтения", "25006"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PgConnection connection(c.uri);
    EXPECT_EQ(PgReadOnlyReason(connection, kSchema), c.reason);
    UsePgJournalSchema(connection, kSchema);
    EXPECT_EQ(Refusal([&] {
                PgTransaction write(connection, PgTransaction::Kind::kWrite);
                connection.execScript(Writes(c.name));
                write.commit();
              }),
              c.refusal);
    PgTransaction read(connection, PgTransaction::Kind::kRead);
    EXPECT_NO_THROW((void)connection.exec("SELECT count(*) FROM history"));
  }
}

}  // namespace
}  // namespace veks
