// The four header layouts as field tables, and the fixed-width digit codec.
#include "client/vrk_cpio_layouts.h"

namespace {

constexpr CPIO_FIELD_LAYOUT kOwn[] = {
    {CF_MAGIC, 6, 8},          {CF_INO_HIGH, 8, 16},     {CF_INO_LOW, 8, 16},
    {CF_MODE, 8, 16},          {CF_UID, 8, 16},          {CF_GID, 8, 16},
    {CF_NLINK, 8, 16},         {CF_MTIME, 8, 16},        {CF_FILESIZE_HIGH, 8, 16},
    {CF_FILESIZE_LOW, 8, 16},  {CF_DEV_MAJ, 8, 16},      {CF_DEV_MIN, 8, 16},
    {CF_RDEV_MAJ, 8, 16},      {CF_RDEV_MIN, 8, 16},     {CF_NAMESIZE, 8, 16},
    {CF_CHKSUM, 8, 16},
};

constexpr CPIO_FIELD_LAYOUT kEaAcl[] = {
    {CF_MAGIC, 6, 8},         {CF_INO_HIGH, 8, 16}, {CF_INO_LOW, 8, 16}, {CF_MODE, 8, 16},
    {CF_UID, 8, 16},          {CF_GID, 8, 16},      {CF_NLINK, 8, 16},   {CF_MTIME, 8, 16},
    {CF_FILESIZE_HIGH, 8, 16}, {CF_FILESIZE_LOW, 8, 16}, {CF_EA_KEY, VRK_EA_ACL_KEY_LEN, 0},
    {CF_NAMESIZE, 8, 16},     {CF_CHKSUM, 8, 16},
};

constexpr CPIO_FIELD_LAYOUT kOdc[] = {
    {CF_MAGIC, 6, 8}, {CF_ODC_DEV, 6, 8},   {CF_ODC_INO, 6, 8},   {CF_MODE, 6, 8},
    {CF_UID, 6, 8},   {CF_GID, 6, 8},       {CF_NLINK, 6, 8},     {CF_ODC_RDEV, 6, 8},
    {CF_MTIME, 11, 8}, {CF_NAMESIZE, 6, 8}, {CF_ODC_FILESIZE, 11, 8},
};

// The newc magic text "070701" reads the same in octal and in hex; it is
// kept as the canonical octal number.
constexpr CPIO_FIELD_LAYOUT kNewc[] = {
    {CF_MAGIC, 6, 8},        {CF_INO_LOW, 8, 16},  {CF_MODE, 8, 16},     {CF_UID, 8, 16},
    {CF_GID, 8, 16},         {CF_NLINK, 8, 16},    {CF_MTIME, 8, 16},    {CF_FILESIZE_LOW, 8, 16},
    {CF_DEV_MAJ, 8, 16},     {CF_DEV_MIN, 8, 16},  {CF_RDEV_MAJ, 8, 16}, {CF_RDEV_MIN, 8, 16},
    {CF_NAMESIZE, 8, 16},    {CF_CHKSUM, 8, 16},
};

constexpr int length_of(const CPIO_FIELD_LAYOUT *f, int n) {
  int sum = 0;
  for (int i = 0; i < n; ++i) sum += f[i].iWidth;
  return sum;
}

#define LAYOUT(a) {a, (int)(sizeof(a) / sizeof(a[0])), length_of(a, (int)(sizeof(a) / sizeof(a[0])))}

static_assert(length_of(kOwn, 16) == VRK_HDR_OWN_LEN, "own header length");
static_assert(length_of(kEaAcl, 13) == VRK_HDR_EA_ACL_LEN, "EA/ACL header length");
static_assert(length_of(kOdc, 11) == VRK_HDR_ODC_LEN, "odc header length");
static_assert(length_of(kNewc, 14) == VRK_HDR_NEWC_LEN, "newc header length");

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const CPIO_LAYOUT kCpioOwnLayout = LAYOUT(kOwn);
const CPIO_LAYOUT kCpioEaAclLayout = LAYOUT(kEaAcl);
const CPIO_LAYOUT kCpioOdcLayout = LAYOUT(kOdc);
const CPIO_LAYOUT kCpioNewcLayout = LAYOUT(kNewc);

bool cpio_put_digits(char *cpOut, int iWidth, int iBase, uint64_t value) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = iWidth - 1; i >= 0; --i) {
    cpOut[i] = kDigits[value % (uint64_t)iBase];
    value /= (uint64_t)iBase;
  }
  return value == 0;
}

bool cpio_get_digits(const char *cpIn, int iWidth, int iBase, uint64_t *value) {
  uint64_t v = 0;
  for (int i = 0; i < iWidth; ++i) {
    int d = digit_value(cpIn[i]);
    if (d < 0 || d >= iBase) return false;
    v = v * (uint64_t)iBase + (uint64_t)d;
  }
  *value = v;
  return true;
}
