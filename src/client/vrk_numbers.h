// Checked decimal conversions for option, environment and ini values: whole
// text a number within given bounds, or a refusal.
#ifndef VRK_CLIENT_VRK_NUMBERS_H
#define VRK_CLIENT_VRK_NUMBERS_H

// true when cpText is a decimal number (optional sign, surrounding blanks
// allowed) within [llMin, llMax]; *pllOut then holds it.
bool vrk_decimal(const char *cpText, long long llMin, long long llMax, long long *pllOut);

// true when cpText is a number from 1 to INT_MAX; *piOut then holds it.
bool vrk_positive_number(const char *cpText, int *piOut);

// Leading decimal number as atoi reads it, clamped to the int range instead
// of overflowing; a text without a number gives 0.
int vrk_atoi(const char *cpText);

#endif
