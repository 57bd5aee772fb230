// String functions of the ini parser's unit: case copies, blank skipping and
// stripping into static buffers, and in-place character and text substitution.
#ifndef VRK_RUNTIME_INI_STRINGS_H
#define VRK_RUNTIME_INI_STRINGS_H

// Each of these four returns its own static 1025-byte buffer (at most 1024
// characters of s), overwritten by its next call; NULL for NULL.
char *strlwc(const char *s);
char *strupc(const char *s);
char *strcrop(const char *s);
char *strstrip(const char *s);

char *strskp(char *s);
// Replaces c by with in place within the first maxlen characters; returns the
// number of characters looked at.
int strchrsubstitute(char *str, char c, char with, int maxlen);
// Replaces every occurrence of pattern by with in place, continuing behind
// each replacement. Returns the number of replacements, or -1 (string left
// alone, traced) for a NULL argument, an empty pattern or a with longer than
// the pattern.
int strstrsubstitute(char *str, const char *pattern, const char *with);

#endif
