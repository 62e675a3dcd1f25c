#include "journal/pg_connection.h"

#include <algorithm>
#include <array>
#include <bit>
#include <mutex>

namespace veks {
namespace {

constexpr std::array<std::string_view, 2> kUriPrefixes = {"postgresql://", "postgres://"};

// Types of result columns read as integers.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kOidOid = 26;
constexpr Oid kNumericOid = 1700;

// The lock class of every advisory lock the journal takes: "VKJL", the
// number that marks a journal file, so that other programs' advisory locks
// in the same database are kept apart from ours.
constexpr std::int64_t kLockClass = 0x564B4A4C;

std::size_t UriPrefixLength(std::string_view location) {
  for (const std::string_view prefix : kUriPrefixes) {
    if (location.starts_with(prefix)) return prefix.size();
  }
  return 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Where a URI's user part ends: libpq reads "user[:password]@" up to the
// first "@" before any "/". npos when it has none.
std::size_t UserPartEnd(std::string_view uri, std::size_t start) {
  const std::size_t end = uri.find_first_of("@/", start);
  return end != std::string_view::npos && uri[end] == '@' ? end : std::string_view::npos;
}

// A "password" keyword or parameter in the text: where the keyword begins,
// where its value begins and ends.
struct PasswordSpan {
  std::size_t keyword = 0;
  std::size_t value = 0;
  std::size_t end = 0;
};

// Every "password = value" in a keyword string or "password=value" in a
// URI's parameters, found by reading the text only, so that a text libpq
// cannot parse still gives up its passwords. A quoted value ends at its
// closing quote; another at a blank or "&".
std::vector<PasswordSpan> PasswordSpans(std::string_view text) {
  static constexpr std::string_view kKeyword = "password";
  std::vector<PasswordSpan> spans;
  for (std::size_t at = text.find(kKeyword); at != std::string_view::npos;
       at = text.find(kKeyword, at + 1)) {
    if (at > 0 && std::string_view(" \t\n?&").find(text[at - 1]) == std::string_view::npos) {
      continue;
    }
    std::size_t i = at + kKeyword.size();
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    PasswordSpan span{at, i, i};
    if (i < text.size() && text[i] == '\'') {
      for (++i; i < text.size() && text[i] != '\''; ++i) {
        if (text[i] == '\\') ++i;
      }
      span.end = std::min(i + 1, text.size());
    } else {
      while (i < text.size() &&
             std::string_view(" \t\n&").find(text[i]) == std::string_view::npos) {
        ++i;
      }
      span.end = i;
    }
    spans.push_back(span);
  }
  return spans;
}

// The passwords `location` holds, as written and as libpq reads them.
std::vector<std::string> WrittenPasswords(std::string_view location) {
  std::vector<std::string> found;
  auto keep = [&](std::string_view written) {
    if (written.empty()) return;
    found.emplace_back(written);
    found.push_back(PercentDecoded(written));
    if (written.size() >= 2 && written.front() == '\'' && written.back() == '\'') {
      found.emplace_back(written.substr(1, written.size() - 2));
    }
  };
  if (const std::size_t start = UriPrefixLength(location); start > 0) {
    if (const std::size_t at = UserPartEnd(location, start); at != std::string_view::npos) {
      const std::string_view user = location.substr(start, at - start);
      if (const std::size_t colon = user.find(':'); colon != std::string_view::npos) {
        keep(user.substr(colon + 1));
      }
    }
  }
  for (const PasswordSpan& span : PasswordSpans(location)) {
    keep(location.substr(span.value, span.end - span.value));
  }
  // What libpq itself reads, for a keyword string written in a way the
  // reading above does not follow.
  if (PQconninfoOption* options = PQconninfoParse(std::string(location).c_str(), nullptr)) {
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
      if (std::string_view(o->keyword) == "password" && o->val != nullptr) keep(o->val);
    }
    PQconninfoFree(options);
  }
  return found;
}

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
  if (what.empty()) return;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

// libpq's messages end with a line break and may run over several lines;
// the journal's messages are one line.
std::string OneLine(const char* message) {
  std::string text = message == nullptr ? std::string() : std::string(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  ReplaceAll(text, "\n\t", " ");
  ReplaceAll(text, "\n", " ");
  return text;
}

void Notice(void* /*unused*/, const char* /*message*/) {
  // The server's notices ("already exists, skipping") are no output of ours.
}

std::string BigEndian(std::uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 7; i >= 0; --i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return bytes;
}

// The passwords the operator gave, by location.
struct PasswordMemory {
  std::mutex mutex;
  std::map<std::string, std::string, std::less<>> byLocation;
};

PasswordMemory& Passwords() {
  static PasswordMemory memory;
  return memory;
}

std::optional<std::string> RememberedPassword(const std::string& location) {
  PasswordMemory& memory = Passwords();
  const std::lock_guard lock(memory.mutex);
  const auto found = memory.byLocation.find(location);
  if (found == memory.byLocation.end()) return std::nullopt;
  return found->second;
}

}  // namespace

void RememberServerPassword(const std::string& location, std::string password) {
  if (password.empty()) return ForgetServerPassword(location);
  PasswordMemory& memory = Passwords();
  const std::lock_guard lock(memory.mutex);
  memory.byLocation.insert_or_assign(location, std::move(password));
}

void ForgetServerPassword(const std::string& location) {
  PasswordMemory& memory = Passwords();
  const std::lock_guard lock(memory.mutex);
  memory.byLocation.erase(location);
}

bool HasServerPassword(const std::string& location) {
  return RememberedPassword(location).has_value();
}

bool IsServerLocation(std::string_view location) { return UriPrefixLength(location) > 0; }

std::string ShownServerLocation(std::string_view location) {
  std::string shown;
  if (const std::size_t start = UriPrefixLength(location); start > 0) {
    shown = std::string(location);
    if (const std::size_t at = UserPartEnd(shown, start); at != std::string::npos) {
      const std::size_t colon = shown.find(':', start);
      if (colon < at) shown.erase(colon, at - colon);
    }
    // The parameters: every "password=..." goes with the separator before it.
    const std::size_t query = shown.find('?', start);
    if (query == std::string::npos) return shown;
    std::string kept;
    std::string_view rest = std::string_view(shown).substr(query + 1);
    while (true) {
      const std::size_t amp = rest.find('&');
      const std::string_view param = rest.substr(0, amp);
      const std::string key = PercentDecoded(param.substr(0, param.find('=')));
      if (key != "password" && !param.empty()) {
        kept += kept.empty() ? '?' : '&';
        kept += param;
      }
      if (amp == std::string_view::npos) break;
      rest.remove_prefix(amp + 1);
    }
    return shown.substr(0, query) + kept;
  }
  shown = std::string(location);
  auto spans = PasswordSpans(shown);
  for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
    std::size_t end = span->end;
    while (end < shown.size() && shown[end] == ' ') ++end;
    shown.erase(span->keyword, end - span->keyword);
  }
  while (!shown.empty() && shown.back() == ' ') shown.pop_back();
  return shown;
}

std::string ScrubSecrets(std::string message, std::string_view location,
                         std::string_view knownPassword) {
  if (!location.empty()) {
    const std::string shown = ShownServerLocation(location);
    if (shown != location) ReplaceAll(message, location, shown);
  }
  std::vector<std::string> secrets = WrittenPasswords(location);
  if (!knownPassword.empty()) secrets.emplace_back(knownPassword);
  // A longer secret first, so that one holding a shorter one goes whole.
  std::sort(secrets.begin(), secrets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& secret : secrets) ReplaceAll(message, secret, "***");
  return message;
}

PgParams& PgParams::add(std::int64_t value) {
  values_.push_back(BigEndian(static_cast<std::uint64_t>(value)));
  null_.push_back(false);
  types_.push_back(static_cast<Oid>(PgType::kBigint));
  return *this;
}

PgParams& PgParams::add(std::string_view text) {
  values_.emplace_back(text);
  null_.push_back(false);
  types_.push_back(static_cast<Oid>(PgType::kText));
  return *this;
}

PgParams& PgParams::add(std::span<const std::uint8_t> bytes) {
  values_.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  null_.push_back(false);
  types_.push_back(static_cast<Oid>(PgType::kBytea));
  return *this;
}

PgParams& PgParams::add(const std::optional<std::string>& text) {
  return text ? add(std::string_view(*text)) : addNull(PgType::kText);
}

PgParams& PgParams::addNull(PgType type) {
  values_.emplace_back();
  null_.push_back(true);
  types_.push_back(static_cast<Oid>(type));
  return *this;
}

PgParams::Arrays PgParams::arrays() const {
  Arrays a;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    a.values.push_back(null_[i] ? nullptr : values_[i].data());
    a.lengths.push_back(static_cast<int>(values_[i].size()));
    a.formats.push_back(1);
  }
  return a;
}

namespace {

// A whole number in NUMERIC's binary form (what sum() of bigints gives):
// digit count, weight, sign and scale, then base-10000 digits, most
// significant first, the first of weight 10000^weight.
std::int64_t NumericInteger(std::span<const unsigned char> data, int column) {
  const auto word = [&](std::size_t i) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]));
  };
  const auto fail = [&]() -> std::int64_t {
    throw PgError("", "столбец " + std::to_string(column + 1) + " не является целым числом");
  };
  if (data.size() < 8) return fail();
  const int digits = word(0);
  const int weight = word(1);
  const auto sign = static_cast<std::uint16_t>(word(2));
  if (digits < 0 || data.size() != 8 + 2 * static_cast<std::size_t>(digits) || sign == 0xC000 ||
      weight > 4) {
    return fail();
  }
  std::int64_t value = 0;
  for (int i = 0; i <= weight; ++i) {
    value = value * 10000 + (i < digits ? word(4 + static_cast<std::size_t>(i)) : 0);
  }
  if (digits > weight + 1) {
    for (int i = weight + 1; i < digits; ++i) {
      if (i >= 0 && word(4 + static_cast<std::size_t>(i)) != 0) return fail();  // a fraction
    }
  }
  return sign == 0x4000 ? -value : value;
}

}  // namespace

std::int64_t PgResult::integer(int row, int column) const {
  const auto* data = reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column));
  const int length = PQgetlength(result_.get(), row, column);
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value = value << 8 | data[i];
  switch (PQftype(result_.get(), column)) {
    case kInt8Oid:
      return static_cast<std::int64_t>(value);
    case kInt4Oid:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    case kInt2Oid:
      return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    case kOidOid:
    case kBoolOid:
      return static_cast<std::int64_t>(value);
    case kNumericOid:
      return NumericInteger({data, static_cast<std::size_t>(length)}, column);
    default:
      throw PgError("", "столбец " + std::to_string(column + 1) + " не является целым числом");
  }
}

std::string_view PgResult::text(int row, int column) const {
  return {PQgetvalue(result_.get(), row, column),
          static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
}

std::span<const std::uint8_t> PgResult::bytes(int row, int column) const {
  return {reinterpret_cast<const std::uint8_t*>(PQgetvalue(result_.get(), row, column)),
          static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
}

std::optional<std::string> PgResult::optionalText(int row, int column) const {
  if (isNull(row, column)) return std::nullopt;
  return std::string(text(row, column));
}

std::string_view PgResult::commandTag() const {
  const char* tag = PQcmdStatus(result_.get());
  return tag == nullptr ? std::string_view() : std::string_view(tag);
}

std::int64_t PgResult::affected() const {
  const char* count = PQcmdTuples(result_.get());
  return count == nullptr || *count == '\0' ? 0 : std::stoll(count);
}

PgConnection::PgConnection(const std::string& location)
    : location_(location), shown_(ShownServerLocation(location)) {
  // Later keywords override what the location says: the journal's texts are
  // UTF-8 whatever PGCLIENTENCODING asks; the application's name only when
  // the location names none.
  // A password the operator gave comes after "dbname", so that it applies
  // whatever the location says.
  const std::optional<std::string> remembered = RememberedPassword(location);
  const char* const keywords[] = {"dbname", "client_encoding", "fallback_application_name",
                                  remembered ? "password" : nullptr, nullptr};
  const char* const values[] = {location.c_str(), "UTF8", "veks12",
                                remembered ? remembered->c_str() : nullptr, nullptr};
  conn_.reset(PQconnectdbParams(keywords, values, 1));
  if (conn_ == nullptr) {
    throw PgConnectFailure{
        {JournalError::Kind::kUnavailable, std::string(kMsgJournalUnavailable) + ": нет памяти"}};
  }
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    const char* password = PQpass(conn_.get());
    std::string message = ScrubSecrets(OneLine(PQerrorMessage(conn_.get())), location_,
                                       password == nullptr ? "" : password);
    if (remembered) message = ScrubSecrets(std::move(message), {}, *remembered);
    // A remembered password the server refused is of no further use: the
    // operator is asked again.
    const bool refused = remembered && PQconnectionUsedPassword(conn_.get()) != 0;
    if (refused) ForgetServerPassword(location);
    throw PgConnectFailure{
        {JournalError::Kind::kUnavailable, std::string(kMsgJournalUnavailable) + ": " + message},
        refused || PQconnectionNeedsPassword(conn_.get()) != 0};
  }
  PQsetNoticeProcessor(conn_.get(), Notice, nullptr);
}

void PgConnection::fail(const PGresult* result) const {
  const char* password = PQpass(conn_.get());
  const std::string_view known = password == nullptr ? "" : password;
  if (PQstatus(conn_.get()) == CONNECTION_BAD) {
    throw JournalError{JournalError::Kind::kUnavailable,
                       std::string(kMsgServerLost) + ": " +
                           ScrubSecrets(OneLine(PQerrorMessage(conn_.get())), location_, known)};
  }
  const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
  const char* primary =
      result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  throw PgError(state == nullptr ? "" : state,
                ScrubSecrets(OneLine(primary != nullptr ? primary : PQerrorMessage(conn_.get())),
                             location_, known));
}

PgResult PgConnection::checked(PGresult* result) const {
  PgResult owner(result);
  const ExecStatusType status = result == nullptr ? PGRES_FATAL_ERROR : PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(result);
  return owner;
}

PgResult PgConnection::exec(std::string_view sql, const PgParams& params) {
  const PgParams::Arrays a = params.arrays();
  return checked(PQexecParams(conn_.get(), std::string(sql).c_str(), params.size(),
                              params.types().data(), a.values.data(), a.lengths.data(),
                              a.formats.data(), 1));
}

PgResult PgConnection::execPrepared(const std::string& sql, const PgParams& params) {
  auto found = prepared_.find(sql);
  if (found == prepared_.end()) {
    // Unprepared, a statement costs one round trip, and preparing it one
    // more: most statements of a short command run once, so a statement is
    // prepared when it comes again.
    if (runOnce_.insert(sql).second) return exec(sql, params);
    std::string name = "veks12_" + std::to_string(prepared_.size() + 1);
    checked(
        PQprepare(conn_.get(), name.c_str(), sql.c_str(), params.size(), params.types().data()));
    found = prepared_.emplace(sql, std::move(name)).first;
  }
  const PgParams::Arrays a = params.arrays();
  return checked(PQexecPrepared(conn_.get(), found->second.c_str(), params.size(), a.values.data(),
                                a.lengths.data(), a.formats.data(), 1));
}

void PgConnection::execScript(std::string_view sql) {
  checked(PQexec(conn_.get(), std::string(sql).c_str()));
}

std::string PgConnection::identifier(std::string_view name) const {
  char* quoted = PQescapeIdentifier(conn_.get(), name.data(), name.size());
  if (quoted == nullptr) fail(nullptr);
  std::string text(quoted);
  PQfreemem(quoted);
  return text;
}

bool PgConnection::inTransaction() const {
  return PQtransactionStatus(conn_.get()) != PQTRANS_IDLE;
}

PgTransaction::PgTransaction(PgConnection& connection, Kind kind) : connection_(connection) {
  if (kind == Kind::kRead && connection.inTransaction()) return;
  if (connection.inTransaction()) {
    throw PgError("", "транзакция записи начата внутри другой транзакции");
  }
  connection.execScript(kind == Kind::kRead ? "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"
                                            : "BEGIN ISOLATION LEVEL READ COMMITTED");
  open_ = true;
}

PgTransaction::~PgTransaction() {
  if (!open_ || PQstatus(connection_.handle()) != CONNECTION_OK) return;
  PQclear(PQexec(connection_.handle(), "ROLLBACK"));
}

void PgTransaction::commit() {
  if (!open_) return;
  // A transaction in which a statement failed answers COMMIT with a
  // rollback and no error: that is a failure, never a success.
  const bool failed = PQtransactionStatus(connection_.handle()) == PQTRANS_INERROR;
  open_ = false;  // whatever COMMIT answers, the transaction is over
  const PgResult result = connection_.exec("COMMIT");
  if (failed || result.commandTag() != "COMMIT") {
    throw PgError("25P02", "транзакция отменена, ничего не записано");
  }
}

void HoldTransactionLock(PgConnection& connection, std::string_view key, LockMode mode) {
  connection.execPrepared(std::string("SELECT pg_advisory_xact_lock") +
                              (mode == LockMode::kShared ? "_shared(" : "(") +
                              std::to_string(kLockClass) + ", hashtext($1))",
                          PgParams().add(key));
}

void LockDevice(PgConnection& connection, std::string_view schema, std::string_view device) {
  HoldTransactionLock(connection, "device\n" + std::string(schema) + "\n" + std::string(device));
}

}  // namespace veks
