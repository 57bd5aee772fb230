// Private helpers of the list library: link and data pointer conversion, the
// out-of-memory exit and the print and scan buffer shared by both.
#ifndef VRK_RUNTIME_LL_INTERNAL_H
#define VRK_RUNTIME_LL_INTERNAL_H

#include "runtime/LL.h"

// The data of a link starts right behind its header, and back again.
inline l_list *LL_link(const void *el) {
  return reinterpret_cast<l_list *>(const_cast<char *>(static_cast<const char *>(el)) - sizeof(l_list));
}
inline void *LL_data(l_list *li) { return reinterpret_cast<char *>(li) + sizeof(l_list); }

// Writes "In <where>: malloc returned NULL" to standard error and exits -1.
[[noreturn]] void LL_NoMemory(const char *where);

// The 100-byte string buffer of SprintLL and SscanLL, with the start and the
// write position of the string being printed.
enum { LL_BUFF_SIZE = 100 };
extern char BuffLL[LL_BUFF_SIZE];
extern char *stringLL;
extern char *stLL;
extern FILE *FiLL;

#endif
