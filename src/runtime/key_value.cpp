// Splitting a text of delimited key/value fields into an ini dictionary.
#include <string.h>

#include <string>

#include "runtime/cm_kernel.h"
#include "runtime/strlib.h"

int iCreateKeyValue(dictionary *dictKeys, const char *cpArg, char cDeli1, char cDeli2,
                    int bUpper) {
  // NULL would continue whatever text the tokenizer holds.
  if (cpArg == nullptr) return 0;
  for (char *field = cm_strtok(cpArg, cDeli1); field != nullptr; field = cm_strtok(nullptr, cDeli1)) {
    std::string key, value;
    const char *sep = strchr(field, cDeli2);
    if (sep != nullptr) {
      key.assign(field, static_cast<size_t>(sep - field));
      value = sep + 1;
    } else {
      key = field;
      value = "1";
    }
    if (bUpper) uppercase(&key[0]);
    dictionary_set(dictKeys, key.c_str(), value.c_str());
  }
  return 1;
}
