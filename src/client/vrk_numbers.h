// Decimal conversions for option, environment and ini values: a whole text
// checked against bounds, or the leading number as the C library reads it.
#ifndef VRK_CLIENT_VRK_NUMBERS_H
#define VRK_CLIENT_VRK_NUMBERS_H

// true when cpText is a decimal number (optional sign, surrounding blanks
// allowed) within [llMin, llMax]; *pllOut then holds it.
bool vrk_decimal(const char *cpText, long long llMin, long long llMax, long long *pllOut);

// true when the leading decimal number of cpText (as vrk_atoi reads it, so
// "30s" is 30) is above 0; *piOut then holds it. A wait or buffer size of 0
// or less is refused.
bool vrk_positive_number(const char *cpText, int *piOut);

// Leading decimal number as atoi reads it, clamped to the int range instead
// of overflowing; a text without a number gives 0.
int vrk_atoi(const char *cpText);

// The same for a long long: the leading decimal number, clamped to its range.
long long vrk_atoll(const char *cpText);

#endif
