// Kernel helpers of the runtime: the field tokenizer and field extraction,
// text-file line search, key/value splitting, the checked close and UUIDs.
#ifndef VRK_RUNTIME_CM_KERNEL_H
#define VRK_RUNTIME_CM_KERNEL_H

#include <stdio.h>

#include "runtime/LL.h"
#include "runtime/dictionary.h"

#define STRTOK_BUF 8192   // the tokenizer's copy of its text
#define STR_EXT_BUF 512   // str_ext's result
#define UUID_BUF 256      // pcm_uuid3's result
#define STR_ELEM_WORK 768 // str_elem's work copy of its text
#define FILE_NAME_BUF 1024

// A new text (non-NULL cpInstring) returns its first field; NULL returns the
// next field of the same text, NULL when none is left. Empty fields between
// adjacent delimiters are returned as empty strings. One state per process.
char *cm_strtok(const char *cpInstring, char cDelim);
// Field iPos (from 0) of cpStr into cpElem: 1, or 0 with cpElem empty. A
// leading delimiter is skipped; only the first 767 characters of a text with
// a delimiter are split, a text without one is field 0 whole.
int str_elem(int iPos, char cDelimiter, const char *cpStr, char *cpElem);
char *str_ext(int iPos, int iLen, const char *cpInstr);

// Search strings: a last '^' asks for the matching line back in the search
// string's buffer; "|AND|" and "|OR|" join two terms.
int file_search(const char *cpFile, char *cpSearchString, int iLength);
int file_rev_search(const char *cpFile, char *cpSearchString, int iLength);
// Reads lines from the current position until one matches (1) or the file
// ends (0); cLogicFlg 'a' both terms, 'o' either, otherwise cpString1. The
// matching line, newline included, is left in pszSl (iLength bytes).
int i_SEEK_STRING(FILE *fpTest, char *pszSl, int iLength, const char *cpString1,
                  const char *cpString2, char cLogicFlg);

// Size of the elements LL_Ins appends (longer strings get room for all).
#define LL_INS_ELEM 512

// 1 for the first element of a list of strings that matches the PCRE2
// pattern, 0 when none matches (or the pattern does not compile, traced),
// a negative PCRE2 code only when matching itself failed. A last '^' of the
// pattern asks for the element (at most 511 characters) back in its buffer.
int i_LL_search(t_LL LL, char *cpSearchString);
// Appends cpArg1 (unless empty or "NULL") and cpArg2 when cpArg2 is neither
// empty nor "NULL"; otherwise nothing.
void LL_Ins(t_LL LL, const char *cpArg1, const char *cpArg2);

int iCreateKeyValue(dictionary *dictKeys, const char *cpArg, char cDeli1, char cDeli2, int bUpper);

int iCM_FCLOSE(FILE *fHandle);
int i_check_fclose_errno(int iErrno);

// cMode '3': a version 3 UUID; any other value: version 1. cpUUID holds at
// least 37 bytes. 1 on success, 0 (traced) when no UUID could be made.
int cm_uuid(char *cpUUID, char cMode);
char *pcm_uuid3(void);

#endif
