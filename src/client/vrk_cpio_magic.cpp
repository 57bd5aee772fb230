// The magic table of the archive headers and what it decides: own-header
// reading, encryption, padding to 4 bytes and resynchronisation stops.
#include "client/vrk_make_header.h"

namespace {

struct MagicRow {
  uint32_t ulMagic;
  bool bOwn;
  bool bEncrypted;
  bool bPadded;
  bool bResync;
};

const MagicRow kMagics[] = {
    {VRK_MAGIC_OWN, true, false, true, true},
    {VRK_MAGIC_OWN_UNPADDED, true, false, false, false},
    {VRK_MAGIC_OWN_1, true, false, true, true},
    {VRK_MAGIC_OWN_ENC_2, true, true, true, true},
    {VRK_MAGIC_OWN_ENC_3, true, true, true, true},
    {VRK_MAGIC_OWN_ENC_12, true, true, true, true},
    {VRK_MAGIC_OWN_ENC_13, true, true, true, true},
    {VRK_MAGIC_EA_ACL, false, false, true, false},
    {VRK_MAGIC_EA_1, false, false, true, false},
    {VRK_MAGIC_EA_2, false, false, true, false},
    {VRK_MAGIC_EA_3, false, false, true, false},
    {VRK_MAGIC_NEWC, false, false, true, true},
    {VRK_MAGIC_ODC, false, false, false, true},
};

const MagicRow *find(uint32_t ulMagic) {
  for (const MagicRow &r : kMagics)
    if (r.ulMagic == ulMagic) return &r;
  return nullptr;
}

}  // namespace

BOOL vrk_magic_is_own(uint32_t ulMagic) {
  const MagicRow *r = find(ulMagic);
  return r != nullptr && r->bOwn ? TRUE : FALSE;
}

BOOL vrk_magic_is_resync(uint32_t ulMagic) {
  const MagicRow *r = find(ulMagic);
  return r != nullptr && r->bResync ? TRUE : FALSE;
}

int vrk_pad(size_t sizeOffset, uint32_t ulMagic) {
  const MagicRow *r = find(ulMagic);
  if (r == nullptr || !r->bPadded) return 0;
  return (int)((4 - sizeOffset % 4) % 4);
}

BOOL vrk_archive_is_encrypted(const s_vrk_cpio_header *spItemHeader) {
  if (spItemHeader == nullptr) return FALSE;
  const MagicRow *r = find(spItemHeader->c_magic);
  return r != nullptr && r->bEncrypted ? TRUE : FALSE;
}
