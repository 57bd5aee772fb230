// The runtime's message language and the command-execution error format
// that program starters and host queries write to the protocol file.
#ifndef VRK_RUNTIME_CM_LANG_H
#define VRK_RUNTIME_CM_LANG_H

typedef enum LANGUAGES {
  LANG_EN = 0,
  LANG_ES = 1,
  LANG_DE = 2,
  LANG_BY = 3,
  LANG_FR = 4,
  LANG_HR = 5,
  LANG_PT = 6
} LANGUAGES;

// Process-wide; stays LANG_EN unless a program sets it.
extern LANGUAGES eLang;

// "E008-BASICS  Error in command execution %s: %s" in the language of eLang
// (English for every language without its own text); it takes an error
// prefix and a text and is written with PROT.
const char *cpCmdExecErrorFormat(void);

#endif
