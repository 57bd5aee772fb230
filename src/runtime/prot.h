// The protocol-file writer: tagged, time-stamped lines in the product's
// protocol file, error lines also in its error file.
#ifndef VRK_RUNTIME_PROT_H
#define VRK_RUNTIME_PROT_H

// Size of the line format and of the formatted output; longer ones are cut
// to fit, after a report line that says so.
#define PROT_FORMAT_SIZE 2560
#define PROT_OUTPUT_SIZE 10240

// cpFormat: a 12-character tag ("E008-BASICS ", first letter E, W or I),
// a separator, then the message format. The protocol file is the named
// value "gv_prot"; nothing is written when it is not defined.
void PROT(const char *cpFormat, ...) __attribute__((format(printf, 1, 2)));

#endif
