// The start-up banner line and the two usage texts: the help screen of the
// option parser and the shorter one of the argument checks.
#ifndef VRK_CLIENT_VRK_USAGE_H
#define VRK_CLIENT_VRK_USAGE_H

// The version text of the banner (message 3036).
extern const char *const VRK_VERSION_TEXT;

// Logs the banner line 3036 with the version text.
void vrk_banner(void);

// Logs message 3000 with the help screen.
void vrk_print_help(void);

// Logs message 3000 with the shorter usage text of the argument checks.
void vrk_print_usage(void);

#endif
