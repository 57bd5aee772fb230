// Header writer: formats an item header in the own, extended-attribute/ACL,
// odc or newc layout, refusing values that the layout cannot hold whole.
#include "client/vrk_make_header.h"

#include <stdio.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include "client/vrk_cpio_layouts.h"
#include "client/vrk_global.h"
#include "runtime/vrk_log.h"

namespace {

uint64_t file_size(const s_vrk_cpio_header *h) {
  return ((uint64_t)h->c_filesize_high << 32) | h->c_filesize_low;
}

// The value of one layout field; odc's 6-digit fields carry the low 16 bits.
uint64_t field_value(const s_vrk_cpio_header *h, CPIO_FIELD f, uint32_t magic, bool odc) {
  uint64_t v = 0;
  switch (f) {
    case CF_MAGIC: return magic;
    case CF_INO_HIGH: v = h->c_ino_high; break;
    case CF_INO_LOW: v = h->c_ino_low; break;
    case CF_MODE: v = h->c_mode; break;
    case CF_UID: v = h->c_uid; break;
    case CF_GID: v = h->c_gid; break;
    case CF_NLINK: v = h->c_nlink; break;
    case CF_MTIME: return h->c_mtime;
    case CF_FILESIZE_HIGH: v = h->c_filesize_high; break;
    case CF_FILESIZE_LOW: v = h->c_filesize_low; break;
    case CF_DEV_MAJ: v = (uint32_t)h->c_dev_maj; break;
    case CF_DEV_MIN: v = (uint32_t)h->c_dev_min; break;
    case CF_RDEV_MAJ: v = (uint32_t)h->c_rdev_maj; break;
    case CF_RDEV_MIN: v = (uint32_t)h->c_rdev_min; break;
    case CF_NAMESIZE: v = h->c_namesize; break;
    case CF_CHKSUM: v = h->c_chksum; break;
    case CF_ODC_DEV: v = makedev((uint32_t)h->c_dev_maj, (uint32_t)h->c_dev_min); break;
    case CF_ODC_INO: v = h->c_ino_low; break;
    case CF_ODC_RDEV: v = makedev((uint32_t)h->c_rdev_maj, (uint32_t)h->c_rdev_min); break;
    case CF_ODC_FILESIZE: return file_size(h);
    case CF_EA_KEY: return 0;
  }
  return odc ? (v & 0xFFFF) : v;
}

// Formats the layout into cpOut and terminates it; the length, or -1 when a
// value needs more digits than its field has.
int format_layout(const CPIO_LAYOUT &layout, const s_vrk_cpio_header *h, uint32_t magic,
                  const char *cpKey, bool odc, char *cpOut, char *cpError) {
  int pos = 0;
  for (int i = 0; i < layout.iCount; ++i) {
    const CPIO_FIELD_LAYOUT &f = layout.spFields[i];
    if (f.eField == CF_EA_KEY) {
      snprintf(cpOut + pos, (size_t)f.iWidth + 1, "%*s", f.iWidth, cpKey);
    } else if (!cpio_put_digits(cpOut + pos, f.iWidth, f.iBase, field_value(h, f.eField, magic, odc))) {
      if (cpError)
        snprintf(cpError, VRK_HDR_ERROR_SIZE, "[%.256s] value %llu does not fit the header format",
                 h->c_name, (unsigned long long)field_value(h, f.eField, magic, odc));
      return -1;
    }
    pos += f.iWidth;
  }
  cpOut[pos] = '\0';
  return pos;
}

void set_error(char *cpError, const char *cpText, const s_vrk_cpio_header *h) {
  if (cpError) snprintf(cpError, VRK_HDR_ERROR_SIZE, cpText, h->c_name, (unsigned long long)file_size(h));
}

}  // namespace

int vrk_make_header(s_vrk_cpio_header *spItemHeader, char *cpHeaderString, int *iHeaderLen, char *cpError) {
  if (spGlobal->iLogLevel > 2) trace("vrk_make_header()");
  if (spItemHeader == nullptr || cpHeaderString == nullptr || iHeaderLen == nullptr) return -1;
  s_vrk_cpio_header *h = spItemHeader;
  h->c_name[VRK_NAME_MAX - 1] = '\0';
  int n = -1;
  switch (spGlobal->eHdrFmt) {
    case HDR_VRK:
      if (!vrk_magic_is_own(h->c_magic)) {
        if (cpError) snprintf(cpError, VRK_HDR_ERROR_SIZE, "invalid magic number [%06o]", (unsigned)h->c_magic);
        return -1;
      }
      n = format_layout(kCpioOwnLayout, h, h->c_magic, nullptr, false, cpHeaderString, cpError);
      break;
    case HDR_CPIO_ASCII:
      // Eleven octal digits hold sizes below 8 GiB whole.
      if (file_size(h) > 077777777777ULL) {
        set_error(cpError, "[%.256s] file size %llu too large for the odc header", h);
        return -1;
      }
      if (h->c_ino_low > 0xFFFF) vrk_log(2019, h->c_name);
      n = format_layout(kCpioOdcLayout, h, VRK_MAGIC_ODC, nullptr, true, cpHeaderString, cpError);
      if (n >= 0) h->c_magic = VRK_MAGIC_ODC;
      break;
    case HDR_CPIO_NEW:
      if (h->c_filesize_high != 0) {
        set_error(cpError, "[%.256s] file size %llu too large for the newc header", h);
        return -1;
      }
      n = format_layout(kCpioNewcLayout, h, VRK_MAGIC_NEWC, nullptr, false, cpHeaderString, cpError);
      if (n >= 0) h->c_magic = VRK_MAGIC_NEWC;
      break;
    case HDR_RAW:
      cpHeaderString[0] = '\0';
      *iHeaderLen = 0;
      return 0;
    default:
      vrk_log(2020);
      return -1;
  }
  if (n < 0) return -1;
  *iHeaderLen = n + 1;
  return n;
}

int vrk_mk_ea_acl_hdr(s_vrk_cpio_header *spItemHeader, char *cpHeaderString, int *iHeaderLen,
                      char *cpEA_Acl_Key) {
  if (spGlobal->eHdrFmt != HDR_VRK) {
    vrk_log(2083);
    return -1;
  }
  if (spItemHeader == nullptr || cpHeaderString == nullptr || iHeaderLen == nullptr) return -1;
  const char *key = cpEA_Acl_Key ? cpEA_Acl_Key : "";
  if (strlen(key) > VRK_EA_ACL_KEY_LEN) {
    vrk_log(2500, "vrk_mk_ea_acl_hdr(): key [%s] longer than %d characters", key, VRK_EA_ACL_KEY_LEN);
    return -1;
  }
  int n = format_layout(kCpioEaAclLayout, spItemHeader, VRK_MAGIC_EA_ACL, key, false, cpHeaderString, nullptr);
  if (n < 0) return -1;
  spItemHeader->c_magic = VRK_MAGIC_EA_ACL;
  *iHeaderLen = n + 1;
  return n;
}
