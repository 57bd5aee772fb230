// Item headers of the archive stream: the in-memory header, the magic table,
// the own, extended-attribute/ACL, odc and newc text layouts and their codecs.
#ifndef VRK_CLIENT_VRK_MAKE_HEADER_H
#define VRK_CLIENT_VRK_MAKE_HEADER_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/vrk_types.h"

#define VRK_NAME_MAX 4096

// The in-memory item header; every numeric field is 32 bits wide.
typedef struct s_vrk_cpio_header {
  uint32_t c_magic;  // the magic as a number whose octal digits are its text ("070701" = 070701)
  uint32_t c_ino_high;
  uint32_t c_ino_low;
  uint32_t c_mode;
  uint32_t c_uid;
  uint32_t c_gid;
  uint32_t c_nlink;
  uint32_t c_mtime;
  uint32_t c_ctime;  // not carried by any header format
  uint32_t c_filesize_high;
  uint32_t c_filesize_low;
  int32_t c_dev_maj;
  int32_t c_dev_min;
  int32_t c_rdev_maj;
  int32_t c_rdev_min;
  uint32_t c_namesize;  // length of the name behind the header, with its terminating zero
  uint32_t c_chksum;
  char c_name[VRK_NAME_MAX];
  char c_tar_linkname[VRK_NAME_MAX];
} s_vrk_cpio_header;

// The magic values, one canonical number each for writer, reader, padding
// and resynchronisation.
#define VRK_MAGIC_OWN 070706
#define VRK_MAGIC_OWN_UNPADDED 070726
#define VRK_MAGIC_OWN_1 070106
#define VRK_MAGIC_OWN_ENC_2 070206
#define VRK_MAGIC_OWN_ENC_3 070306
#define VRK_MAGIC_OWN_ENC_12 071206
#define VRK_MAGIC_OWN_ENC_13 071306
#define VRK_MAGIC_EA_ACL 070716
#define VRK_MAGIC_EA_1 070116
#define VRK_MAGIC_EA_2 070216
#define VRK_MAGIC_EA_3 070316
#define VRK_MAGIC_NEWC 070701
#define VRK_MAGIC_ODC 070707

// Text lengths of the layouts (no terminating zero on the medium).
#define VRK_MAGIC_LEN 6
#define VRK_HDR_OWN_LEN 126
#define VRK_HDR_EA_ACL_LEN 126
#define VRK_HDR_ODC_LEN 76
#define VRK_HDR_NEWC_LEN 110
#define VRK_EA_ACL_KEY_LEN 32
// Room a caller gives for a header text (longest layout and its zero) and
// for an error text.
#define VRK_HDR_BUFSIZE 128
#define VRK_HDR_ERROR_SIZE 512

// True for the magics the own-header reader accepts (the seven own ones).
BOOL vrk_magic_is_own(uint32_t ulMagic);
// True for the magics that resynchronisation stops at.
BOOL vrk_magic_is_resync(uint32_t ulMagic);

// Zero bytes that bring sizeOffset to a multiple of 4 for the padded magics;
// 0 for the others (070707, 070726 and unknown values).
int vrk_pad(size_t sizeOffset, uint32_t ulMagic);
// TRUE for the encrypted magics 070206, 070306, 071206, 071306.
BOOL vrk_archive_is_encrypted(const s_vrk_cpio_header *spItemHeader);

// Formats the header of the configured format (spGlobal->eHdrFmt) into
// cpHeaderString (VRK_HDR_BUFSIZE bytes); *iHeaderLen = characters + 1.
// HDR_VRK writes c_magic, which must be one of the seven own magics; odc and
// newc write their own magic and store it into c_magic, so that padding
// follows what was written. Result: characters written, 0 for HDR_RAW
// (*iHeaderLen 0), -1 with a text in cpError (VRK_HDR_ERROR_SIZE bytes) when
// a value does not fit (sizes of 4 GiB and more are refused by newc, written
// whole by odc up to 8 GiB - 1), or warning 2020 for an unknown format.
int vrk_make_header(s_vrk_cpio_header *spItemHeader, char *cpHeaderString, int *iHeaderLen, char *cpError);
// The 070716 header with the key text right-aligned in 32 characters; only
// for HDR_VRK (else warning 2083). A key longer than 32 characters is
// refused. Result as vrk_make_header.
int vrk_mk_ea_acl_hdr(s_vrk_cpio_header *spItemHeader, char *cpHeaderString, int *iHeaderLen,
                      char *cpEA_Acl_Key);

// Parses an own, odc or newc header text (dispatched on its magic) into the
// cleared record; every character of every field must be a digit of the
// field's base (hex digits in either case). 0, or -1 with a text in cpError.
int vrk_get_header(const char *cpHeaderString, s_vrk_cpio_header *spItemHeader, char *cpError);
// Parses a 070716 header; the 32 key characters go to cpKey as they stand
// (no terminating zero added). 0, or -1 with a text in cpError.
int vrk_get_ea_acl_hdr(const char *cpHeaderString, s_vrk_cpio_header *spItemHeader, char *cpKey,
                       char *cpError);

#endif
