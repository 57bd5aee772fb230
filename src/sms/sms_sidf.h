// The data-set stream of the stand-in ("sidf", version 1): header, data and
// trailer with size and Adler-32 checksum, all little-endian.
#ifndef VRK_SMS_SMS_SIDF_H
#define VRK_SMS_SMS_SIDF_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace vrksms {

enum SidfKind : uint8_t { kSidfFile = 1, kSidfDirectory = 2, kSidfSymlink = 3 };
constexpr uint8_t kSidfFullName = 0x1;  // flags: the name is a full path

// Header: "VSDF", u16 version 1, u16 header size (58 + name length), u8 kind,
// u8 flags, u16 reserved 0, u32 mode, u32 uid, u32 gid, s64 mtime seconds,
// u32 mtime nanoseconds, s64 atime seconds, u32 atime nanoseconds, u64 data
// size, u16 name length, name bytes. Then the data, then the trailer:
// "VEND", u64 bytes of header and data, u32 Adler-32 of header and data.
constexpr size_t kSidfFixedHeader = 58;
constexpr size_t kSidfTrailer = 16;
constexpr size_t kSidfMaxName = 32767;
constexpr size_t kSidfMaxLinkTarget = 4096;

struct SidfHeader {
  uint8_t kind = kSidfFile;
  uint8_t flags = 0;
  uint32_t mode = 0, uid = 0, gid = 0;
  int64_t mtimeSec = 0;
  uint32_t mtimeNsec = 0;
  int64_t atimeSec = 0;
  uint32_t atimeNsec = 0;
  uint64_t dataSize = 0;
  std::string name;
};

std::vector<uint8_t> EncodeSidfHeader(const SidfHeader &h);

enum class SidfParse { kNeedMore, kOk, kBad };
// Parses a header from the first n bytes; headerLen receives its size.
SidfParse DecodeSidfHeader(const uint8_t *p, size_t n, SidfHeader &out, size_t &headerLen);

void EncodeSidfTrailer(uint64_t total, uint32_t adler, uint8_t out[kSidfTrailer]);
bool DecodeSidfTrailer(const uint8_t in[kSidfTrailer], uint64_t &total, uint32_t &adler);

constexpr uint32_t kAdlerStart = 1;
uint32_t Adler32(uint32_t adler, const uint8_t *p, size_t n);

}  // namespace vrksms

#endif
