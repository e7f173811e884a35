#include "answers/answer_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string percent(double value) {
  char text[64];
  formatPercent(value, text, sizeof(text));
  return text;
}

double percentOf(double part, double whole) { return part / whole * 100.0; }

TEST(FormatPercent, RoundsAtTheThirdDecimalOfSeventeenDigits) {
  EXPECT_EQ(percent(percentOf(1, 32)), "3.13") << "an exact half rounds up";
  EXPECT_EQ(percent(percentOf(1, 3)), "33.33");
  EXPECT_EQ(percent(percentOf(2, 3)), "66.67");
  EXPECT_EQ(percent(percentOf(57, 100)), "57.00");
  EXPECT_EQ(percent(percentOf(1, 8)), "12.50");
  EXPECT_EQ(percent(percentOf(3, 8)), "37.50");
  EXPECT_EQ(percent(percentOf(1, 400)), "0.25");
  EXPECT_EQ(percent(percentOf(1, 800)), "0.13");
}

TEST(FormatPercent, WholeAndZeroValues) {
  EXPECT_EQ(percent(0.0), "0.00");
  EXPECT_EQ(percent(100.0), "100.00");
  EXPECT_EQ(percent(percentOf(7, 7)), "100.00");
  EXPECT_EQ(percent(5.0), "5.00");
}

TEST(FormatPercent, CarriesThroughNines) {
  EXPECT_EQ(percent(99.994), "99.99");
  EXPECT_EQ(percent(99.995), "100.00") << "99.995 is 99.99500000000000045 as a double";
  EXPECT_EQ(percent(9.999), "10.00");
  EXPECT_EQ(percent(0.005), "0.01");
  EXPECT_EQ(percent(0.004), "0.00");
  EXPECT_EQ(percent(percentOf(1, 65535)), "0.00");
  EXPECT_EQ(percent(percentOf(65534, 65535)), "100.00");
}

}  // namespace
