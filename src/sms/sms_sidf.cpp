// Encoding and decoding of the data-set stream header and trailer, and the
// Adler-32 checksum over the stream.
#include "sms/sms_sidf.h"

#include "runtime/vrk_adler32.h"

#include <string.h>

#include "sms/smsdefs.h"

namespace vrksms {

namespace {

void PutN(uint8_t *&p, uint64_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) *p++ = static_cast<uint8_t>(x >> (8 * i));
}
uint64_t GetN(const uint8_t *p, int bytes) {
  uint64_t x = 0;
  for (int i = 0; i < bytes; ++i) x |= static_cast<uint64_t>(p[i]) << (8 * i);
  return x;
}

}  // namespace

std::vector<uint8_t> EncodeSidfHeader(const SidfHeader &h) {
  std::vector<uint8_t> v(kSidfFixedHeader + h.name.size());
  uint8_t *p = v.data();
  memcpy(p, "VSDF", 4);
  p += 4;
  PutN(p, NWSM_SIDF_VERSION, 2);
  PutN(p, kSidfFixedHeader + h.name.size(), 2);
  PutN(p, h.kind, 1);
  PutN(p, h.flags, 1);
  PutN(p, 0, 2);
  PutN(p, h.mode, 4);
  PutN(p, h.uid, 4);
  PutN(p, h.gid, 4);
  PutN(p, static_cast<uint64_t>(h.mtimeSec), 8);
  PutN(p, h.mtimeNsec, 4);
  PutN(p, static_cast<uint64_t>(h.atimeSec), 8);
  PutN(p, h.atimeNsec, 4);
  PutN(p, h.dataSize, 8);
  PutN(p, h.name.size(), 2);
  if (!h.name.empty()) memcpy(p, h.name.data(), h.name.size());
  return v;
}

SidfParse DecodeSidfHeader(const uint8_t *p, size_t n, SidfHeader &h, size_t &headerLen) {
  if (n >= 4 && memcmp(p, "VSDF", 4) != 0) return SidfParse::kBad;
  if (n >= 6 && GetN(p + 4, 2) != NWSM_SIDF_VERSION) return SidfParse::kBad;
  if (n < kSidfFixedHeader) return SidfParse::kNeedMore;
  size_t size = GetN(p + 6, 2);
  size_t nameLen = GetN(p + 56, 2);
  if (size != kSidfFixedHeader + nameLen || nameLen == 0 || nameLen > kSidfMaxName) return SidfParse::kBad;
  if (n < size) return SidfParse::kNeedMore;
  h.kind = p[8];
  h.flags = p[9];
  if (h.kind < kSidfFile || h.kind > kSidfSymlink || (h.flags & ~kSidfFullName) || GetN(p + 10, 2))
    return SidfParse::kBad;
  h.mode = static_cast<uint32_t>(GetN(p + 12, 4));
  h.uid = static_cast<uint32_t>(GetN(p + 16, 4));
  h.gid = static_cast<uint32_t>(GetN(p + 20, 4));
  h.mtimeSec = static_cast<int64_t>(GetN(p + 24, 8));
  h.mtimeNsec = static_cast<uint32_t>(GetN(p + 32, 4));
  h.atimeSec = static_cast<int64_t>(GetN(p + 36, 8));
  h.atimeNsec = static_cast<uint32_t>(GetN(p + 44, 4));
  h.dataSize = GetN(p + 48, 8);
  if (h.mtimeNsec >= 1000000000u || h.atimeNsec >= 1000000000u) return SidfParse::kBad;
  if (h.kind == kSidfDirectory && h.dataSize != 0) return SidfParse::kBad;
  if (h.kind == kSidfSymlink && (h.dataSize == 0 || h.dataSize > kSidfMaxLinkTarget)) return SidfParse::kBad;
  h.name.assign(reinterpret_cast<const char *>(p + kSidfFixedHeader), nameLen);
  if (h.name.find('\0') != std::string::npos) return SidfParse::kBad;
  headerLen = size;
  return SidfParse::kOk;
}

void EncodeSidfTrailer(uint64_t total, uint32_t adler, uint8_t out[kSidfTrailer]) {
  memcpy(out, "VEND", 4);
  for (int i = 0; i < 8; ++i) out[4 + i] = static_cast<uint8_t>(total >> (8 * i));
  for (int i = 0; i < 4; ++i) out[12 + i] = static_cast<uint8_t>(adler >> (8 * i));
}

bool DecodeSidfTrailer(const uint8_t in[kSidfTrailer], uint64_t &total, uint32_t &adler) {
  if (memcmp(in, "VEND", 4) != 0) return false;
  total = GetN(in + 4, 8);
  adler = static_cast<uint32_t>(GetN(in + 12, 4));
  return true;
}

uint32_t Adler32(uint32_t adler, const uint8_t *p, size_t n) { return vrk_adler32(adler, p, n); }

}  // namespace vrksms
