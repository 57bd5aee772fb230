// Account and path utilities of the client: user and group ids, directory
// creation for a file, restore-path renaming, password wrapper, small text tests.
#ifndef VRK_CLIENT_VRK_UTIL_H
#define VRK_CLIENT_VRK_UTIL_H

#include "runtime/vrk_types.h"

// Longest clear password that decrypt_passwd hands back (the caller's buffer
// holds 156 characters; the clear text must fit in 33 of them).
#define VRK_DECRYPT_PASSWD_MAX 33
// Size of the password buffer that decrypt_passwd clears and refills.
#define VRK_DECRYPT_PASSWD_BUFSIZE 156

// The user id of exactly that user name from the password database, or -1
// when there is no such user (or the lookup fails: message 3500).
int iGetUserId(char *cpUsername);
// The primary group id of exactly that user name, or -1 as above.
int iGetGroupId(char *cpUsername);

// Creates the missing directories above the file path cpName (mode 0755,
// owner unchanged). 0 when the directory stands, -1 when it could not be made
// or the path is unusable (missing, longer than 4095 characters).
int vrk_create_all_directories(char *cpName);

// Deciphers the enciphered password cpPasswd (hex text, braces allowed) with
// the passphrase made of the first character of cpPrefix and cpSaveset, in
// place: cpPasswd (at least 156 bytes) is cleared and receives the clear
// text. FALSE (messages 1151 or 1149) leaves cpPasswd as it was.
BOOL decrypt_passwd(char *cpPasswd, char *cpSaveset, char *cpPrefix);

// Builds the restore path of cpName (a 4096-byte buffer) in place from the
// first restore target and the -o PLAIN and RENAME flags. 0, or -1 without a
// path or when the result would not fit (cpName is then unchanged).
int vrk_update_path(char *cpName);

// 0 when every character is a decimal digit (also for the empty text), -1
// otherwise or without a text.
int vrk_isdigit(char *cpLine);
// Occurrences of cChar in cpLine, -1 without a text.
int vrk_count(char *cpLine, char cChar);
// For a "[datastore] dir/name.vmdk" path: the position of the '[' that opens
// the datastore part; NULL for anything else.
char *check_prepare_vmdk_path(char *path);

#endif
