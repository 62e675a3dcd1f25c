// A server journal's location made from its parts, as the window's journal
// choice asks for them: the libpq URI that Journal::Open and PgConnection
// take. The password is no part of it: it stays in the process's memory
// (RememberServerPassword), never in a URI that is shown or kept.
#pragma once

#include <string>
#include <string_view>

namespace veks {

// The TLS modes libpq knows, weakest first; kDefaultSslMode is libpq's own.
inline constexpr std::string_view kSslModes[] = {"disable", "allow",     "prefer",
                                                 "require", "verify-ca", "verify-full"};
inline constexpr std::string_view kDefaultSslMode = "prefer";

// Seconds a connection attempt may take before it is given up: a server that
// does not answer holds no one up for long.
inline constexpr int kServerConnectTimeout = 10;

struct ServerLocationParts {
  // A host name, an IP address (IPv6 too) or the folder of a Unix socket
  // (beginning with "/"); empty: libpq's default (PGHOST, else the socket).
  std::string host;
  int port = 0;          // 0: the default (PGPORT, else 5432)
  std::string database;  // empty: the user's name
  std::string user;      // empty: PGUSER, else the system's user name
  std::string sslMode = std::string(kDefaultSslMode);
  // The journal's schema; empty or the default schema: none named.
  std::string schema;
};

// "postgresql://USER@HOST:PORT/DATABASE?sslmode=...&connect_timeout=...",
// each part percent-encoded so that libpq reads it back exactly as given
// ("@", "/", ":", "?" and non-ASCII letters included); a schema is added as
// "options=-csearch_path=NAME", quoted for the server so that its letters
// keep their case. Parts left empty are left out.
[[nodiscard]] std::string ServerLocationOf(const ServerLocationParts& parts);

// `text` with every byte but the unreserved ones (letters, digits, "-._~")
// written as "%XX".
[[nodiscard]] std::string PercentEncoded(std::string_view text);

}  // namespace veks
