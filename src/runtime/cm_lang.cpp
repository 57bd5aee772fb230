// The message language setting and the command-execution error format in
// each language that has its own text.
#include "runtime/cm_lang.h"

LANGUAGES eLang = LANG_EN;

const char *cpCmdExecErrorFormat(void) {
  switch (eLang) {
    case LANG_DE:
      return "E008-BASICS  Fehler bei Kommandoausführung %s: %s";
    case LANG_BY:
      return "E008-BASICS  Fälla bei da Kommandoausführung %s: %s";
    default:
      return "E008-BASICS  Error in command execution %s: %s";
  }
}
