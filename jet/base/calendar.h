// Calendar dates for the Date/Time type, which counts days from 1899-12-30.
#pragma once

#include <cstdint>

namespace jet {

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar (month 1..12, day 1..31).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
// The date `days` after 1970-01-01.
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day);

// Days from 1970-01-01 of 1899-12-30, the day a Date/Time value of 0 stands for.
constexpr int64_t kDateTimeEpochDays = -25569;

}  // namespace jet
