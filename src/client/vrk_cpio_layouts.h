// Field layouts of the archive header texts and the fixed-width digit
// formatter and parser that the header writer and reader share.
#ifndef VRK_CLIENT_VRK_CPIO_LAYOUTS_H
#define VRK_CLIENT_VRK_CPIO_LAYOUTS_H

#include <stdint.h>

#include "client/vrk_make_header.h"

// The values a layout carries. The odc ones combine record fields.
typedef enum CPIO_FIELD {
  CF_MAGIC,
  CF_INO_HIGH,
  CF_INO_LOW,
  CF_MODE,
  CF_UID,
  CF_GID,
  CF_NLINK,
  CF_MTIME,
  CF_FILESIZE_HIGH,
  CF_FILESIZE_LOW,
  CF_DEV_MAJ,
  CF_DEV_MIN,
  CF_RDEV_MAJ,
  CF_RDEV_MIN,
  CF_NAMESIZE,
  CF_CHKSUM,
  CF_EA_KEY,        // 32 characters of text
  CF_ODC_DEV,       // makedev(major, minor), low 16 bits
  CF_ODC_INO,       // low 16 bits of the inode
  CF_ODC_RDEV,      // makedev of the special-file numbers, low 16 bits
  CF_ODC_FILESIZE,  // the whole size, high and low words
} CPIO_FIELD;

typedef struct CPIO_FIELD_LAYOUT {
  CPIO_FIELD eField;
  int iWidth;
  int iBase;  // 8 or 16; 0 for the key text
} CPIO_FIELD_LAYOUT;

typedef struct CPIO_LAYOUT {
  const CPIO_FIELD_LAYOUT *spFields;
  int iCount;
  int iLength;  // sum of the widths
} CPIO_LAYOUT;

extern const CPIO_LAYOUT kCpioOwnLayout;
extern const CPIO_LAYOUT kCpioEaAclLayout;
extern const CPIO_LAYOUT kCpioOdcLayout;
extern const CPIO_LAYOUT kCpioNewcLayout;

// Writes value as exactly iWidth zero-padded digits (lower-case hex); false
// when it needs more digits.
bool cpio_put_digits(char *cpOut, int iWidth, int iBase, uint64_t value);
// Reads exactly iWidth digits of the base (hex in either case); false at the
// first other character, a terminating zero included.
bool cpio_get_digits(const char *cpIn, int iWidth, int iBase, uint64_t *value);

#endif
