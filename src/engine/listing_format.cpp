// The fixed line formats of a resource listing (the browser parses them) and
// the used size of a resource.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "engine/listing.h"

namespace {

const char kDates[] = "2000.01.01 00:00:00 2000.01.01 00:00:00";

std::string size_text(UINT64 size) {
  char buf[32];
  snprintf(buf, sizeof(buf), "%" PRIu64, (uint64_t)size);
  return buf;
}

}  // namespace

UINT64 ResourceUsedSize(UINT32 blockSize, UINT32 totalBlocks, UINT32 freeBlocks) {
  if (freeBlocks >= totalBlocks) return 0;
  return (UINT64)blockSize * (UINT64)(totalBlocks - freeBlocks);
}

std::string ResourceListingLine(const std::string &name, UINT64 size) {
  return "\"" + name + "\" dm " + kDates + " " + size_text(size) + " - ,\n";
}

std::string ClusterRootListingLine(UINT64 size) {
  return std::string("\"/\" d_ ") + kDates + " " + size_text(size) + " - ,not_selectable\n";
}

std::string ComponentListingLine(const std::string &component, UINT64 size,
                                 const std::string &home) {
  return "\"" + component + "\" dm " + kDates + " " + size_text(size) + " - , path: " + home + "\n";
}

int i_COMPARE_LINE(const void *cpFirst, const void *cpSecond) {
  return strcmp(static_cast<const char *>(cpFirst), static_cast<const char *>(cpSecond));
}
