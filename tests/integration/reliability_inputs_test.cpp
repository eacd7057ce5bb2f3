// Regressions found by fuzzing the form collect functions: numbers typed far longer than any
// field holds must saturate, never overflow into a negative or small value.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings_form.h"

TEST(ReliabilityInputs, LongNumbersSaturateInsteadOfOverflowing) {
  const std::string twentyNines(20, '9');
  EXPECT_GT(parseLeadingInt(twentyNines), parseLeadingInt(std::string(17, '9')));
  EXPECT_LT(parseLeadingInt("-" + twentyNines), 0);
  EXPECT_EQ(parseLeadingInt(twentyNines), parseLeadingInt(std::string(400, '9')));
  // The fuzzer's case: nineteen digits, then five decimals of scaling.
  const std::string fives(19, '5');
  EXPECT_GT(parseScaledDecimal(fives, 5), parseScaledDecimal("5555", 5));
  EXPECT_GT(parseScaledDecimal(fives + ".99999", 5), 0);
  EXPECT_EQ(parseScaledDecimal("-" + fives, 5), -parseScaledDecimal(fives, 5));
  // Ordinary values are untouched by the saturation.
  EXPECT_EQ(parseScaledDecimal("12.345", 2), 1234);
  EXPECT_EQ(parseLeadingInt("999999999999999999"), 999999999999999999LL);
}

TEST(ReliabilityInputs, ExtraFormWithAHugeNumberCollectsWithoutOverflow) {
  ExtraSettingsForm form;
  for (auto& t : form.text) t = std::string(19, '5');
  ExtraSettings base;
  const ExtraSettings a = collectExtraSettings(base, form);
  for (auto& t : form.text) t = std::string(40, '5');
  const ExtraSettings b = collectExtraSettings(base, form);
  // Both saturate to the same record: more digits change nothing once the cap is reached.
  EXPECT_EQ(a.bytes, b.bytes);
}
