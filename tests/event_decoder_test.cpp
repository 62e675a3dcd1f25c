#include "archive/event_decoder.h"

#include <gtest/gtest.h>

#include "tools/archive_builder.h"

namespace veks {
namespace {

struct DecodeCase {
  const char* name;
  EventRecord record;
  EventRow expected;
};

class DecodeEventRowTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEventRowTest, GivesTheRowTexts) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(DecodeEventRow(c.record), c.expected);
}

// time 12:34:56, date 01.12.13 unless a case needs other bytes
EventRecord R(std::uint8_t code, std::uint8_t arg) {
  return MakeRecord(code, arg, 12, 34, 56, 1, 12, 13);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DecodeEventRowTest,
    testing::Values(
        DecodeCase{"PowerOff", R(6, 0), {"Питание выкл", "", "12:34:56", "01.12.13"}},
        DecodeCase{"PowerOnTwoBlanks", R(7, 9), {"Питание  вкл", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Module1", R(8, 0), {"Отказ мод. 1", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Module9", R(16, 0), {"Отказ мод. 9", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Module10NoBlank", R(17, 0), {"Отказ мод.10", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Module16", R(23, 0), {"Отказ мод.16", "", "12:34:56", "01.12.13"}},
        DecodeCase{"KpThreeBlanks", R(24, 0), {"Отказ   К.П.", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Programming", R(25, 0), {"Программир.", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Reset", R(30, 0), {"Перезап по Reset", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Watchdog", R(31, 0), {"Перезапуск WDT", "", "12:34:56", "01.12.13"}},
        DecodeCase{"RelayOff", R(50, 3), {"Отключение реле", "   МУК 3", "12:34:56", "01.12.13"}},
        DecodeCase{"RelayOn", R(51, 12), {"Включение  реле", "   МУК 12", "12:34:56", "01.12.13"}},
        DecodeCase{
            "ButtonOdd", R(52, 3), {"Нажатие кн. МУК", "МУК 2 открыть", "12:34:56", "01.12.13"}},
        DecodeCase{
            "ButtonEven", R(52, 4), {"Нажатие кн. МУК", "МУК 2 закрыть", "12:34:56", "01.12.13"}},
        DecodeCase{
            "ButtonZero", R(52, 0), {"Нажатие кн. МУК", "МУК 0 закрыть", "12:34:56", "01.12.13"}},
        DecodeCase{"ButtonMax",
                   R(52, 255),
                   {"Нажатие кн. МУК", "МУК 128 открыть", "12:34:56", "01.12.13"}},
        DecodeCase{"Code4NoText", R(4, 7), {"", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Code5NoText", R(5, 7), {"", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Code26NoText", R(26, 7), {"", "", "12:34:56", "01.12.13"}},
        DecodeCase{"Code254NoText", R(254, 7), {"", "", "12:34:56", "01.12.13"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Inputs, DecodeEventRowTest,
    testing::Values(
        DecodeCase{
            "Input0IsModule0Input6", R(0, 0), {"Норма", "   МУК 0 вх 6", "12:34:56", "01.12.13"}},
        DecodeCase{"NormaInput6Kept", R(0, 6), {"Норма", "   МУК 1 вх 6", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput7", R(0, 7), {"нет сиг.клап.откр", "   МУК 2 вх 1", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput1", R(0, 1), {"нет сиг.клап.откр", "   МУК 1 вх 1", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput2", R(0, 2), {"нет сиг.клап.закр", "   МУК 1 вх 2", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput3", R(0, 3), {"нет авт.дист.упр.", "   МУК 1 вх 3", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput4", R(0, 4), {"нет дист. упр.ОТК", "   МУК 1 вх 4", "12:34:56", "01.12.13"}},
        DecodeCase{
            "NormaInput5", R(0, 5), {"нет дист. упр.ЗАК", "   МУК 1 вх 5", "12:34:56", "01.12.13"}},
        DecodeCase{"PreSignalInput12Kept",
                   R(1, 12),
                   {"Пред. сигн.", "   МУК 2 вх 6", "12:34:56", "01.12.13"}},
        DecodeCase{"PreSignalInput14",
                   R(1, 14),
                   {"клапан ЗАКРЫТ", "   МУК 3 вх 2", "12:34:56", "01.12.13"}},
        DecodeCase{
            "AlarmInput12Kept", R(2, 12), {"Авар. сигн.", "   МУК 2 вх 6", "12:34:56", "01.12.13"}},
        DecodeCase{
            "AlarmInput1", R(2, 1), {"клапан ОТКРЫТ", "   МУК 1 вх 1", "12:34:56", "01.12.13"}},
        DecodeCase{"IndicationInput11",
                   R(3, 11),
                   {"дист. упр.ЗАК", "   МУК 2 вх 5", "12:34:56", "01.12.13"}},
        DecodeCase{"IndicationInput10",
                   R(3, 10),
                   {"дист. упр.ОТК", "   МУК 2 вх 4", "12:34:56", "01.12.13"}},
        DecodeCase{"IndicationInput9",
                   R(3, 9),
                   {"авт.дист.упр.", "   МУК 2 вх 3", "12:34:56", "01.12.13"}},
        DecodeCase{
            "Input255", R(1, 255), {"авт.дист.упр.", "   МУК 43 вх 3", "12:34:56", "01.12.13"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Markers, DecodeEventRowTest,
    testing::Values(DecodeCase{"Erased",
                               {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                               {"**НЕКОРР ЗАП.**", "", "", ""}},
                    DecodeCase{
                        "InvalidWithValidStamp", R(0xFF, 3), {"**НЕКОРР ЗАП.**", "", "", ""}},
                    DecodeCase{"EmptySlot", {0, 0, 0, 0, 0, 0, 0, 0}, {"", "", "", ""}},
                    DecodeCase{"EmptySlotIgnoresYear", {0, 0, 0, 0, 0, 0, 0, 42}, {"", "", "", ""}},
                    DecodeCase{"ZeroCodeWithMonthIsNotEmpty",
                               {0, 0, 0, 0, 0, 0, 1, 0},
                               {"Норма", "   МУК 0 вх 6", "00:00:00", "00.01.00"}},
                    DecodeCase{"TimeOrderAndPadding",
                               {6, 0, 9, 7, 5, 3, 4, 5},
                               {"Питание выкл", "", "05:07:09", "03.04.05"}},
                    DecodeCase{"NoTimeIsOneBlank",
                               {6, 0, 0xFF, 0xFF, 0xFF, 1, 2, 3},
                               {"Питание выкл", "", " ", "01.02.03"}},
                    DecodeCase{"NoDateIsEmpty",
                               {6, 0, 1, 2, 3, 0xFF, 0xFF, 0xFF},
                               {"Питание выкл", "", "03:02:01", ""}},
                    DecodeCase{"NoTimeNoDate",
                               {6, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                               {"Питание выкл", "", " ", ""}},
                    DecodeCase{"SingleFFIsDecimal",
                               {6, 0, 0xFF, 7, 8, 100, 1, 2},
                               {"Питание выкл", "", "08:07:255", "100.01.02"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StampTextTest, FormatsOrEmpties) {
  EXPECT_EQ(StampText(23, 59, 0, 1, 12, 13), "23:59:00 01.12.13");
  EXPECT_EQ(StampText(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), "");
  EXPECT_EQ(StampText(0xFF, 0xFF, 0xFF, 1, 2, 3), "255:255:255 01.02.03");
  EXPECT_EQ(StampText(1, 2, 3, 0xFF, 0xFF, 0xFF), "01:02:03 255.255.255");
}

TEST(StampTextTest, RecordStampIsTimeBlankDate) {
  const EventRecord r = MakeRecord(0, 1, 9, 5, 0, 1, 12, 13);
  const EventRow row = DecodeEventRow(r);
  EXPECT_EQ(RecordStampText(r), row[2] + " " + row[3]);
}

TEST(CharacterCountTest, CountsCharactersNotBytes) {
  EXPECT_EQ(CharacterCount(""), 0u);
  EXPECT_EQ(CharacterCount("abc"), 3u);
  EXPECT_EQ(CharacterCount("   МУК 1 вх 6"), 13u);
  EXPECT_EQ(CharacterCount("**НЕКОРР ЗАП.**"), 15u);
}

TEST(EventTextLengthTest, PairsHaveEqualLengthAndFailuresTwelve) {
  EXPECT_EQ(CharacterCount(DecodeEventRow(R(6, 0))[0]), 12u);
  EXPECT_EQ(CharacterCount(DecodeEventRow(R(7, 0))[0]), 12u);
  EXPECT_EQ(CharacterCount(DecodeEventRow(R(50, 0))[0]), 15u);
  EXPECT_EQ(CharacterCount(DecodeEventRow(R(51, 0))[0]), 15u);
  for (std::uint8_t code = 8; code <= 24; ++code) {
    EXPECT_EQ(CharacterCount(DecodeEventRow(R(code, 0))[0]), 12u) << int{code};
  }
}

}  // namespace
}  // namespace veks
