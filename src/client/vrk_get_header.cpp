// Header reader: parses own, odc, newc and extended-attribute/ACL header
// texts field by field at fixed offsets, checking every digit.
#include <stdio.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include "client/vrk_cpio_layouts.h"
#include "client/vrk_make_header.h"

namespace {

void store(s_vrk_cpio_header *h, CPIO_FIELD f, uint64_t v) {
  switch (f) {
    case CF_MAGIC: h->c_magic = (uint32_t)v; break;
    case CF_INO_HIGH: h->c_ino_high = (uint32_t)v; break;
    case CF_INO_LOW: h->c_ino_low = (uint32_t)v; break;
    case CF_MODE: h->c_mode = (uint32_t)v; break;
    case CF_UID: h->c_uid = (uint32_t)v; break;
    case CF_GID: h->c_gid = (uint32_t)v; break;
    case CF_NLINK: h->c_nlink = (uint32_t)v; break;
    case CF_MTIME: h->c_mtime = (uint32_t)v; break;
    case CF_FILESIZE_HIGH: h->c_filesize_high = (uint32_t)v; break;
    case CF_FILESIZE_LOW: h->c_filesize_low = (uint32_t)v; break;
    case CF_DEV_MAJ: h->c_dev_maj = (int32_t)(uint32_t)v; break;
    case CF_DEV_MIN: h->c_dev_min = (int32_t)(uint32_t)v; break;
    case CF_RDEV_MAJ: h->c_rdev_maj = (int32_t)(uint32_t)v; break;
    case CF_RDEV_MIN: h->c_rdev_min = (int32_t)(uint32_t)v; break;
    case CF_NAMESIZE: h->c_namesize = (uint32_t)v; break;
    case CF_CHKSUM: h->c_chksum = (uint32_t)v; break;
    case CF_ODC_DEV:
      h->c_dev_maj = (int32_t)major((dev_t)v);
      h->c_dev_min = (int32_t)minor((dev_t)v);
      break;
    case CF_ODC_INO: h->c_ino_low = (uint32_t)v; break;
    case CF_ODC_RDEV:
      h->c_rdev_maj = (int32_t)major((dev_t)v);
      h->c_rdev_min = (int32_t)minor((dev_t)v);
      break;
    case CF_ODC_FILESIZE:
      h->c_filesize_high = (uint32_t)(v >> 32);
      h->c_filesize_low = (uint32_t)v;
      break;
    case CF_EA_KEY: break;
  }
}

// Parses the layout's fields in order; the number of fields read whole.
int parse_layout(const CPIO_LAYOUT &layout, const char *cpText, s_vrk_cpio_header *h, char *cpKey) {
  int pos = 0;
  for (int i = 0; i < layout.iCount; ++i) {
    const CPIO_FIELD_LAYOUT &f = layout.spFields[i];
    if (f.eField == CF_EA_KEY) {
      if (strnlen(cpText + pos, (size_t)f.iWidth) < (size_t)f.iWidth) return i;
      if (cpKey) memcpy(cpKey, cpText + pos, (size_t)f.iWidth);
    } else {
      uint64_t v;
      if (!cpio_get_digits(cpText + pos, f.iWidth, f.iBase, &v)) return i;
      store(h, f.eField, v);
    }
    pos += f.iWidth;
  }
  return layout.iCount;
}

// The first six characters, printable, for the invalid-magic text.
void magic_text(const char *cpText, char out[VRK_MAGIC_LEN + 1]) {
  size_t n = strnlen(cpText, VRK_MAGIC_LEN);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)cpText[i];
    out[i] = (c >= 0x20 && c < 0x7f) ? (char)c : '?';
  }
  out[n] = '\0';
}

bool read_magic(const char *cpText, uint32_t *magic) {
  uint64_t v;
  if (!cpio_get_digits(cpText, VRK_MAGIC_LEN, 8, &v)) return false;
  *magic = (uint32_t)v;
  return true;
}

void set_error(char *cpError, const char *cpFormat, int a, int b) {
  if (cpError) snprintf(cpError, VRK_HDR_ERROR_SIZE, cpFormat, a, b);
}

}  // namespace

int vrk_get_header(const char *cpHeaderString, s_vrk_cpio_header *spItemHeader, char *cpError) {
  if (cpHeaderString == nullptr || spItemHeader == nullptr) return -1;
  memset(spItemHeader, 0, sizeof(*spItemHeader));
  uint32_t magic = 0;
  const CPIO_LAYOUT *layout = nullptr;
  if (read_magic(cpHeaderString, &magic)) {
    if (vrk_magic_is_own(magic)) layout = &kCpioOwnLayout;
    else if (magic == VRK_MAGIC_ODC) layout = &kCpioOdcLayout;
    else if (magic == VRK_MAGIC_NEWC) layout = &kCpioNewcLayout;
  }
  if (layout == nullptr) {
    char text[VRK_MAGIC_LEN + 1];
    magic_text(cpHeaderString, text);
    if (cpError) snprintf(cpError, VRK_HDR_ERROR_SIZE, "invalid magic number [%s]", text);
    return -1;
  }
  int n = parse_layout(*layout, cpHeaderString, spItemHeader, nullptr);
  if (n != layout->iCount) {
    set_error(cpError, "sscanf():invalid number of header fields:[%d][%d]", n, layout->iCount);
    memset(spItemHeader, 0, sizeof(*spItemHeader));
    return -1;
  }
  return 0;
}

int vrk_get_ea_acl_hdr(const char *cpHeaderString, s_vrk_cpio_header *spItemHeader, char *cpKey,
                       char *cpError) {
  if (cpHeaderString == nullptr || spItemHeader == nullptr) return -1;
  memset(spItemHeader, 0, sizeof(*spItemHeader));
  uint32_t magic = 0;
  if (!read_magic(cpHeaderString, &magic) || magic != VRK_MAGIC_EA_ACL) {
    char text[VRK_MAGIC_LEN + 1];
    magic_text(cpHeaderString, text);
    if (cpError) snprintf(cpError, VRK_HDR_ERROR_SIZE, "ea_acl: invalid magic number [%s]", text);
    return -1;
  }
  int n = parse_layout(kCpioEaAclLayout, cpHeaderString, spItemHeader, cpKey);
  if (n != kCpioEaAclLayout.iCount) {
    set_error(cpError, "sscanf(): invalid number of header fields:[%d][%d]", n, kCpioEaAclLayout.iCount);
    memset(spItemHeader, 0, sizeof(*spItemHeader));
    return -1;
  }
  return 0;
}
