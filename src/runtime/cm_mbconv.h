// Multibyte text under a named locale: conversion to and from wide text,
// between two locales' encodings, and repair of a text into UTF-8.
#ifndef VRK_RUNTIME_CM_MBCONV_H
#define VRK_RUNTIME_CM_MBCONV_H

#include <stddef.h>
#include <wchar.h>

// Makes cpString (a buffer of iSize bytes) UTF-8: kept when it is UTF-8
// already, else read as Latin-1 ("de_DE") and written back as UTF-8; 1, or 0
// with the text unchanged. Leaves the character-type locale at the last one set.
int cm_convert2utf8(char *cpString, int iSize);
// mbstowcs of the whole text under cpLocale into iCount wide characters
// (terminator included); (size_t)-1 when it cannot be converted or does not fit.
size_t mbstowcsl(wchar_t *cpWcstr, const char *cpMbstr, size_t iCount, const char *cpLocale);
// wcstombs of the whole text under cpLocale into iCount bytes (terminator
// included); (size_t)-1 when it cannot be converted or does not fit.
size_t wcstombsl(char *cpMbstr, const wchar_t *cpWcstr, size_t iCount, const char *cpLocale);
// From cpLocaleFrom's encoding to cpLocaleTo's through wide text; the length
// of the result, or (size_t)-1.
size_t mbstombsl(char *cpMbstrOut, const char *cpMbstr, size_t iCount, const char *cpLocaleFrom,
                 const char *cpLocaleTo);

#endif
