// The relocation code's messages: texts formatted here and handed to the
// relocation log hook, which writes nothing while it is not set.
#ifndef VRK_CLIENT_VRK_RELOC_LOG_H
#define VRK_CLIENT_VRK_RELOC_LOG_H

// Formats the text and passes it to g_kv_log_ptr as message iCode (3500 or
// 4000, whose first argument is the caller's format).
void reloc_logf(int iCode, const char *cpFormat, ...) __attribute__((format(printf, 2, 3)));

#endif
