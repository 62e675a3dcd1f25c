// Turning one event record into the four texts of an event-table row.
//
// Both functions are pure and total: every 8-byte input yields texts, none
// fails. Texts are UTF-8; their fixed blanks (leading, doubled, trailing) are
// part of them because reports align columns on their character counts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veks {

// The cells of one data row, by column: event, input number, time, date.
using EventRow = std::array<std::string, 4>;

// Decodes one record: an erased record (code 0xFF) gives "**НЕКОРР ЗАП.**" and
// three empty cells, an empty slot (bytes 0-6 zero) four empty cells.
[[nodiscard]] EventRow DecodeEventRow(std::span<const std::uint8_t, 8> record);

// "hh:mm:ss dd.mm.yy" of six values; the empty text when all six are 0xFF.
// Fields below 100 give two digits; larger ones are written in plain decimal.
[[nodiscard]] std::string StampText(std::uint8_t hours, std::uint8_t minutes, std::uint8_t seconds,
                                    std::uint8_t day, std::uint8_t month, std::uint8_t year);

// StampText of a record's own time and date bytes (4, 3, 2, 5, 6, 7).
[[nodiscard]] std::string RecordStampText(std::span<const std::uint8_t, 8> record);

// "dd.mm.yy" of a record's date bytes by the two-digit rule.
[[nodiscard]] std::string RecordDateText(std::span<const std::uint8_t, 8> record);

// Every text the event cell can show for a record that has one, in code
// order with each input's signal texts after their code: the kinds of event
// an operator can ask for.
[[nodiscard]] std::vector<std::string> EventKindTexts();

// Number of characters (not bytes) in a UTF-8 text.
[[nodiscard]] std::size_t CharacterCount(std::string_view utf8);

}  // namespace veks
