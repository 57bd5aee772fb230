// Locale-bound multibyte conversions: the character-type locale is switched
// for the conversion and restored; results that do not fit are refused.
#include "runtime/cm_mbconv.h"

#include <ctype.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/vrk_log.h"

namespace {

std::string current_ctype() {
  const char *cur = setlocale(LC_CTYPE, NULL);
  return cur != NULL ? cur : "C";
}

std::string upper(const char *s) {
  std::string u(s);
  for (char &c : u) c = (char)toupper((unsigned char)c);
  return u;
}

// The UTF-8 locale of cm_convert2utf8; a host without en_US.UTF-8 still has
// the C library's own C.UTF-8.
void set_utf8_locale() {
  const char *got = setlocale(LC_CTYPE, "en_US.UTF-8");
  if (got == NULL) got = setlocale(LC_CTYPE, "C.UTF-8");
  if (got != NULL)
    trace("Got locale %s", got);
  else
    trace("Failed to setlocale 'en_US.UTF-8'");
}

}  // namespace

int cm_convert2utf8(char *cpString, int iSize) {
  if (cpString == NULL || iSize <= 0) return 0;
  size_t len = strnlen(cpString, (size_t)iSize);
  if (len == (size_t)iSize) return 0;  // not terminated within its buffer
  trace("cm_convert2utf8: [%s], size %d (length %d)", cpString, iSize, (int)len);
  std::vector<wchar_t> wide;
  try {
    wide.resize((size_t)iSize);
  } catch (...) {
    trace("cm_convert2utf8: ERROR malloc failed");
    return 0;
  }

  set_utf8_locale();
  if (mbstowcs(wide.data(), cpString, wide.size()) != (size_t)-1) {
    trace("cm_convert2utf8: already utf8");
    return 1;
  }
  const char *got = setlocale(LC_CTYPE, "de_DE");
  trace("locale set to %s.", got != NULL ? got : "(null)");
  if (got == NULL || mbstowcs(wide.data(), cpString, wide.size()) == (size_t)-1) {
    trace("cm_convert2utf8: An invalid multibyte sequence was encountered, mbstowcs failed");
    return 0;
  }
  set_utf8_locale();
  size_t need = wcstombs(NULL, wide.data(), 0);
  if (need == (size_t)-1) {
    trace("cm_convert2utf8: wcstombs() returned error: Wide character could not be converted!");
    return 0;
  }
  if (need >= (size_t)iSize) {
    trace("cm_convert2utf8: UTF-8 text of %d bytes does not fit %d bytes", (int)need, iSize);
    return 0;
  }
  wcstombs(cpString, wide.data(), (size_t)iSize);
  return 1;
}

size_t mbstowcsl(wchar_t *cpWcstr, const char *cpMbstr, size_t iCount, const char *cpLocale) {
  if (cpWcstr == NULL || cpMbstr == NULL || iCount == 0) return (size_t)-1;
  memset(cpWcstr, 0, iCount * sizeof(wchar_t));
  std::string locale = cpLocale != NULL ? cpLocale : "";
  if (upper(locale.c_str()).find("UTF-8") != std::string::npos) {
    trace("%l6 mbstowcsl: convert [%s] with UTF-8", cpMbstr);
    if (locale.size() < 7) {
      trace("%l2 mbstowcsl: use locale [%s] instead of [%s]", "en_US.utf8", locale.c_str());
      locale = "en_US.utf8";
    }
  }
  const std::string saved = current_ctype();
  bool set = false;
  if (locale.empty()) {
    trace("%l6 mbstowcsl: use current locale [%s] to convert [%s]", saved.c_str(), cpMbstr);
  } else {
    trace("%l4 got current locale [%s]", saved.c_str());
    trace("%l3 mbstowcsl: set locale [%s] to convert [%s]", locale.c_str(), cpMbstr);
    if (setlocale(LC_CTYPE, locale.c_str()) != NULL)
      set = true;
    else
      trace("%l0 mbstowcsl: failed to set locale [%s] > use current locale [%s] instead", locale.c_str(),
            saved.c_str());
  }
  size_t need = mbstowcs(NULL, cpMbstr, 0);
  size_t result = (size_t)-1;
  if (need == (size_t)-1) {
    trace("%l0 mbstowcsl: failed to convert [%s] with mbstowcs() and locale [%s]", cpMbstr, current_ctype().c_str());
  } else if (need >= iCount) {
    trace("%l0 mbstowcsl: [%s] needs %d wide characters, %d given", cpMbstr, (int)need + 1, (int)iCount);
  } else {
    result = mbstowcs(cpWcstr, cpMbstr, iCount);
  }
  if (set) setlocale(LC_CTYPE, saved.c_str());
  return result;
}

size_t wcstombsl(char *cpMbstr, const wchar_t *cpWcstr, size_t iCount, const char *cpLocale) {
  if (cpMbstr == NULL || cpWcstr == NULL || iCount == 0) return (size_t)-1;
  memset(cpMbstr, 0, iCount);
  std::string locale = cpLocale != NULL ? cpLocale : "";
  if (upper(locale.c_str()).find("UTF-8") != std::string::npos) {
    trace("%l6 mbstowcsl: convert [%s] with UTF-8", cpMbstr);
    if (locale.size() < 7) {
      trace("%l2 mbstowcsl: use locale [%s] instead of [%s]", "en_US.utf8", locale.c_str());
      locale = "en_US.utf8";
    }
  }
  const std::string saved = current_ctype();
  bool set = false;
  if (locale.empty()) {
    trace("%l3 wcstombsl: use current locale [%s]", saved.c_str());
  } else {
    trace("%l3 wcstombsl: got current locale [%s]", saved.c_str());
    trace("%l3 wcstombsl: set locale [%s]", locale.c_str());
    if (setlocale(LC_CTYPE, locale.c_str()) != NULL) {
      set = true;
    } else {
      trace("%l0 wcstombsl: failed to set locale [%s]", locale.c_str());
      trace("%l0 wcstombsl: use current locale [%s]", saved.c_str());
    }
  }
  size_t need = wcstombs(NULL, cpWcstr, 0);
  size_t result = (size_t)-1;
  if (need == (size_t)-1) {
    trace("%l0 wcstombsl: wcstombs() failed to convert [%ls]", cpWcstr);
  } else if (need >= iCount) {
    trace("%l0 wcstombsl: [%ls] needs %d bytes, %d given", cpWcstr, (int)need + 1, (int)iCount);
  } else {
    result = wcstombs(cpMbstr, cpWcstr, iCount);
  }
  if (set) setlocale(LC_CTYPE, saved.c_str());
  return result;
}

size_t mbstombsl(char *cpMbstrOut, const char *cpMbstr, size_t iCount, const char *cpLocaleFrom,
                 const char *cpLocaleTo) {
  if (cpMbstrOut == NULL || cpMbstr == NULL) return (size_t)-1;
  size_t len = strlen(cpMbstr);
  trace("%l3 mbstombsl: convert [%s] (%d chars) from [%s] to [%s]", cpMbstr, (int)len,
        cpLocaleFrom ? cpLocaleFrom : "", cpLocaleTo ? cpLocaleTo : "");
  std::vector<wchar_t> wide;
  try {
    wide.resize(len + 1);
  } catch (...) {
    trace("%l0 mbstombsl: Error: malloc failed");
    return (size_t)-1;
  }
  if (mbstowcsl(wide.data(), cpMbstr, wide.size(), cpLocaleFrom) == (size_t)-1) {
    trace("%l0 mbstombsl: Error: mbstowcsl(., [%s], [%s]) failed", cpMbstr, cpLocaleFrom ? cpLocaleFrom : "");
    return (size_t)-1;
  }
  size_t result = wcstombsl(cpMbstrOut, wide.data(), iCount, cpLocaleTo);
  if (result == (size_t)-1) {
    trace("%l0 mbstombsl: Error: wcstombsl(., [%ls], [%s]) failed", wide.data(), cpLocaleTo ? cpLocaleTo : "");
    return (size_t)-1;
  }
  return result;
}
