#include "journal/pg_location.h"

#include "journal/pg_schema.h"

namespace veks {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// A name the server reads unquoted as it is: lower-case letters, digits and
// "_", not beginning with a digit. Any other is quoted, "" standing for ".
std::string SchemaSetting(std::string_view schema) {
  bool plain = !schema.empty() && !(schema.front() >= '0' && schema.front() <= '9');
  for (const char c : schema) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) plain = false;
  }
  if (plain) return std::string(schema);
  std::string quoted = "\"";
  for (const char c : schema) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

// libpq splits "options" at blanks into the server's arguments; a backslash
// keeps a blank (or itself) in one.
std::string OptionArgument(std::string_view argument) {
  std::string escaped;
  for (const char c : argument) {
    if (c == ' ' || c == '\\' || c == '\t') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string ServerLocationOf(const ServerLocationParts& parts) {
  std::string uri = "postgresql://";
  if (!parts.user.empty()) uri += PercentEncoded(parts.user) + '@';
  // An IPv6 address goes in brackets, as written; any other host is encoded
  // (a socket's folder becomes "%2Frun%2Fpostgresql", which libpq reads back).
  if (parts.host.find(':') != std::string::npos && parts.host.find('/') == std::string::npos) {
    uri += '[' + parts.host + ']';
  } else {
    uri += PercentEncoded(parts.host);
  }
  if (parts.port > 0) uri += ':' + std::to_string(parts.port);
  if (!parts.database.empty()) uri += '/' + PercentEncoded(parts.database);
  uri += "?sslmode=" + PercentEncoded(parts.sslMode.empty() ? kDefaultSslMode : parts.sslMode);
  uri += "&connect_timeout=" + std::to_string(kServerConnectTimeout);
  if (!parts.schema.empty() && parts.schema != kDefaultJournalSchema) {
    uri += "&options=" +
           PercentEncoded("-csearch_path=" + OptionArgument(SchemaSetting(parts.schema)));
  }
  return uri;
}

}  // namespace veks
