// URL coding of the string toolkit: percent-encoding with "+" for blanks, and
// its decoding; each returns a new buffer that the caller frees.
#ifndef VRK_RUNTIME_CM_URLCODE_H
#define VRK_RUNTIME_CM_URLCODE_H

// ASCII letters, digits and "-_.~" stay, a blank becomes "+", every other byte
// "%" and two lower-case hex digits. NULL when no memory is left.
char *cm_url_encode(char *str);

// "+" becomes a blank, "%" and two characters the byte of those hex digits; a
// "%" with fewer than two characters behind it is dropped. NULL when no memory
// is left.
char *cm_url_decode(char *str);

#endif
