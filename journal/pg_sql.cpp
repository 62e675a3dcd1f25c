#include "journal/pg_sql.h"

namespace veks {
namespace {

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether a "+" after `out` is unary: what stands before it is no operand
// (a keyword, an opening parenthesis, a comma, an operator, nothing).
bool UnaryAfter(std::string_view out) {
  std::size_t end = out.find_last_not_of(' ');
  if (end == std::string_view::npos) return true;
  if (!IsWordChar(out[end])) return out[end] != ')' && out[end] != '\'' && out[end] != '"';
  std::size_t start = end;
  while (start > 0 && IsWordChar(out[start - 1])) --start;
  std::string word(out.substr(start, end + 1 - start));
  for (char& c : word) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  for (const char* keyword : {"AND", "OR", "NOT", "WHERE", "SELECT", "ON", "WHEN", "THEN", "ELSE",
                              "BY", "IS", "BETWEEN", "IN", "DISTINCT"}) {
    if (word == keyword) return true;
  }
  return false;
}

bool StartsWordAt(std::string_view sql, std::size_t i, std::string_view word) {
  return sql.substr(i, word.size()) == word && (i == 0 || !IsWordChar(sql[i - 1])) &&
         (i + word.size() >= sql.size() || !IsWordChar(sql[i + word.size()]));
}

}  // namespace

std::string PgStatementText(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 16);
  // Closing parentheses owed to rewritten unixepoch( calls, by nesting depth.
  std::string closers;
  int depth = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const std::size_t end = sql.find(c, i + 1);
      const std::size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
      out.append(sql.substr(i, stop - i));
      i = stop - 1;
    } else if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
      out += '$';
    } else if (c == '+' && i + 1 < sql.size() && IsWordChar(sql[i + 1]) &&
               !(sql[i + 1] >= '0' && sql[i + 1] <= '9') && UnaryAfter(out)) {
      // A unary plus before a column: SQLite's hint, nothing to the server.
    } else if (StartsWordAt(sql, i, "INDEXED BY")) {
      std::size_t j = i + 10;
      while (j < sql.size() && sql[j] == ' ') ++j;
      while (j < sql.size() && IsWordChar(sql[j])) ++j;
      i = j - 1;
      while (!out.empty() && out.back() == ' ') out.pop_back();
    } else if (StartsWordAt(sql, i, "unixepoch") && sql.substr(i + 9, 1) == "(") {
      out += "CAST(extract(epoch FROM CAST((";
      i += 9;
      ++depth;
      closers.resize(static_cast<std::size_t>(depth), ' ');
      closers[static_cast<std::size_t>(depth - 1)] = 'u';
    } else if (c == '(') {
      out += c;
      ++depth;
      closers.resize(static_cast<std::size_t>(depth), ' ');
      closers[static_cast<std::size_t>(depth - 1)] = ' ';
    } else if (c == ')' && depth > 0) {
      out +=
          closers[static_cast<std::size_t>(depth - 1)] == 'u' ? ") AS timestamp)) AS bigint)" : ")";
      --depth;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace veks
