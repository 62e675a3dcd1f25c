// The roles that docs/server-roles.sql makes, in a database of their own on
// the throw-away cluster of scripts/with-test-pg.sh (skipped without it):
// the owner makes and migrates the journal, the writer imports and writes
// notes in tables old and added by a migration, the reader and a read-only
// session read alike and write nothing, and neither the writer nor the
// reader can make or migrate the journal.
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

  // The command line as each of them.
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
  const std::string readOnlySession = writer + "&options=-cdefault_transaction_read_only%3Don";
  const auto refused = [](const std::string& uri, const std::string& reason) {
    return "veks12-journal: " + ShownServerLocation(uri) + ": " + kMsgJournalReadOnly + ": " +
           reason + "\n";
  };
  struct Run {
    std::string uri;
    int code;
    std::string out, err;
    std::vector<std::string> args;
  };
  // The import and the note write tables of the first version and of the
  // migration.
  const std::string denied = "нет права на запись в журнал";
  const Run runs[] = {
      {writer,
       0,
       first + ": Котельная: новых событий: 1\n",
       "",
       {"import", "--device", "Котельная", first}},
      {writer,
       0,
       "примечание 1\n",
       "",
       {"note", "add", "--device", "Котельная", "--at", "2013-11-28T09:00:00", "--author", "a",
        "проверено"}},
      {reader, 1, "", refused(reader, denied), {"import", later}},
      {readOnlySession,
       1,
       "",
       refused(readOnlySession, "сеанс сервера только для чтения"),
       {"import", later}},
      {reader, 1, "", refused(reader, denied), {"note", "edit", "1", "--author", "b", "нет"}},
  };
  for (const Run& r : runs) {
    EXPECT_EQ(cli(r.uri, r.args), std::tuple(r.code, r.out, r.err)) << r.uri << " " << r.args[0];
  }
  for (const std::string& uri : {reader, readOnlySession}) {
    for (const char* command : {"devices", "report", "export", "notes", "stats", "due", "check"}) {
      EXPECT_EQ(cli(uri, {command}), cli(writer, {command})) << uri << " " << command;
    }
  }
  EXPECT_EQ(
      cli(reader, {"devices"}),
      std::tuple(0, "Котельная\t1\t1\t2013-11-28T08:00:00\t2013-11-28T08:00:00\n", std::string()));
}

}  // namespace
}  // namespace veks
