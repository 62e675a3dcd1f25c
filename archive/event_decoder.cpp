#include "archive/event_decoder.h"

#include <algorithm>

#include "archive/archive_format.h"

namespace veks {
namespace {

constexpr std::string_view kInvalidRecordText = "**НЕКОРР ЗАП.**";

// Event texts by code; an empty view means the code has no text.
constexpr std::string_view EventText(std::uint8_t code) {
  switch (code) {
    case 0:
      return "Норма";
    case 1:
      return "Пред. сигн.";
    case 2:
      return "Авар. сигн.";
    case 3:
      return "Индикация";
    case 6:
      return "Питание выкл";
    case 7:
      return "Питание  вкл";
    case 8:
      return "Отказ мод. 1";
    case 9:
      return "Отказ мод. 2";
    case 10:
      return "Отказ мод. 3";
    case 11:
      return "Отказ мод. 4";
    case 12:
      return "Отказ мод. 5";
    case 13:
      return "Отказ мод. 6";
    case 14:
      return "Отказ мод. 7";
    case 15:
      return "Отказ мод. 8";
    case 16:
      return "Отказ мод. 9";
    case 17:
      return "Отказ мод.10";
    case 18:
      return "Отказ мод.11";
    case 19:
      return "Отказ мод.12";
    case 20:
      return "Отказ мод.13";
    case 21:
      return "Отказ мод.14";
    case 22:
      return "Отказ мод.15";
    case 23:
      return "Отказ мод.16";
    case 24:
      return "Отказ   К.П.";
    case 25:
      return "Программир.";
    case 30:
      return "Перезап по Reset";
    case 31:
      return "Перезапуск WDT";
    case 50:
      return "Отключение реле";
    case 51:
      return "Включение  реле";
    case 52:
      return "Нажатие кн. МУК";
    default:
      return {};
  }
}

// Signal texts of inputs 1 to 5 of a МУК: [input - 1][0] for code 0 ("нет ..."),
// [input - 1][1] for codes 1 to 3.
constexpr std::string_view kSignalTexts[5][2] = {
    {"нет сиг.клап.откр", "клапан ОТКРЫТ"}, {"нет сиг.клап.закр", "клапан ЗАКРЫТ"},
    {"нет авт.дист.упр.", "авт.дист.упр."}, {"нет дист. упр.ОТК", "дист. упр.ОТК"},
    {"нет дист. упр.ЗАК", "дист. упр.ЗАК"},
};

constexpr std::string_view kModulePrefix = "   МУК ";

// Appends a time or date field: decimal, with a "0" in front of a single digit.
void AppendTwoDigit(std::string& out, std::uint8_t value) {
  if (value >= 100) out += static_cast<char>('0' + value / 100);
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

std::string JoinFields(std::uint8_t a, std::uint8_t b, std::uint8_t c, char separator) {
  std::string out;
  out.reserve(8);
  AppendTwoDigit(out, a);
  out += separator;
  AppendTwoDigit(out, b);
  out += separator;
  AppendTwoDigit(out, c);
  return out;
}

bool AllFF(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  return a == 0xFF && b == 0xFF && c == 0xFF;
}

}  // namespace

EventRow DecodeEventRow(std::span<const std::uint8_t, 8> r) {
  EventRow row;
  if (r[kCodeByte] == kInvalidCode) {
    row[0] = kInvalidRecordText;
    return row;
  }
  if (std::all_of(r.begin(), r.begin() + kYearByte, [](std::uint8_t b) { return b == 0; })) {
    return row;
  }

  const std::uint8_t code = r[kCodeByte];
  const std::uint8_t arg = r[kArgumentByte];
  row[0] = EventText(code);

  if (code <= 3) {
    // Input numbers run 1-6 for МУК 1, 7-12 for МУК 2, ...; 0 gives МУК 0 input 6.
    const int module = arg % 6 != 0 ? arg / 6 + 1 : arg / 6;
    const int input = arg % 6 != 0 ? arg % 6 : 6;
    if (input <= 5) row[0] = kSignalTexts[input - 1][code == 0 ? 0 : 1];
    row[1] = std::string(kModulePrefix) + std::to_string(module) + " вх " + std::to_string(input);
  } else if (code == 50 || code == 51) {
    row[1] = std::string(kModulePrefix) + std::to_string(arg);
  } else if (code == 52) {
    // Two buttons to a МУК: odd numbers open, even ones close.
    row[1] = "МУК " + std::to_string((arg + 1) / 2) + (arg % 2 != 0 ? " открыть" : " закрыть");
  }

  const std::uint8_t s = r[kSecondsByte], m = r[kMinutesByte], h = r[kHoursByte];
  row[2] = AllFF(s, m, h) ? std::string(" ") : JoinFields(h, m, s, ':');
  const std::uint8_t d = r[kDayByte], mo = r[kMonthByte], y = r[kYearByte];
  row[3] = AllFF(d, mo, y) ? std::string() : JoinFields(d, mo, y, '.');
  return row;
}

std::string StampText(std::uint8_t hours, std::uint8_t minutes, std::uint8_t seconds,
                      std::uint8_t day, std::uint8_t month, std::uint8_t year) {
  if (AllFF(hours, minutes, seconds) && AllFF(day, month, year)) return {};
  return JoinFields(hours, minutes, seconds, ':') + ' ' + JoinFields(day, month, year, '.');
}

std::string RecordStampText(std::span<const std::uint8_t, 8> r) {
  return StampText(r[kHoursByte], r[kMinutesByte], r[kSecondsByte], r[kDayByte], r[kMonthByte],
                   r[kYearByte]);
}

std::string RecordDateText(std::span<const std::uint8_t, 8> r) {
  return JoinFields(r[kDayByte], r[kMonthByte], r[kYearByte], '.');
}

std::vector<std::string> EventKindTexts() {
  std::vector<std::string> texts;
  for (int code = 0; code < 0xFF; ++code) {
    const std::string_view text = EventText(static_cast<std::uint8_t>(code));
    if (!text.empty()) texts.emplace_back(text);
    // The signal texts that stand for the code's own text at inputs 1 to 5.
    if (code == 0) {
      for (const auto& signal : kSignalTexts) texts.emplace_back(signal[0]);
    }
    if (code == 3) {
      for (const auto& signal : kSignalTexts) texts.emplace_back(signal[1]);
    }
  }
  texts.emplace_back(kInvalidRecordText);
  return texts;
}

std::size_t CharacterCount(std::string_view utf8) {
  // Every character has exactly one byte that is not a continuation byte.
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace veks
