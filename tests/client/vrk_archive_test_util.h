// Test helpers of the archive stream: items written and read through the
// data gate on a local saveset file, one header, name and data each.
#ifndef VRK_TESTS_CLIENT_VRK_ARCHIVE_TEST_UTIL_H
#define VRK_TESTS_CLIENT_VRK_ARCHIVE_TEST_UTIL_H

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "client/vrk_archive.h"
#include "client/vrk_global.h"
#include "client/vrk_io.h"
#include "client/vrk_make_header.h"

namespace vrktest {

// The local saveset of the data gate: a file opened for writing or reading.
class LocalSaveset {
 public:
  LocalSaveset(const std::string &path, bool write) : write_(write) {
    fd_ = write ? open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) : open(path.c_str(), O_RDONLY);
    spGlobal->sLocalSaveset.iFilDes = fd_;
    spGlobal->iDataWait = 10;
    vrk_archive_reset();
  }
  ~LocalSaveset() { Close(); }
  // What the data gate gathered is written before the saveset closes.
  void Close() {
    if (fd_ >= 0 && write_) vrk_bsa_flush(10);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    spGlobal->sLocalSaveset.iFilDes = -1;
    vrk_saveset_read_forget();
  }
  bool ok() const { return fd_ >= 0; }

 private:
  bool write_;
  int fd_;
};

inline std::unique_ptr<s_vrk_cpio_header> NewHeader() {
  return std::unique_ptr<s_vrk_cpio_header>(new s_vrk_cpio_header());
}

// Fills a header from lstat of the file; false when it is not there.
inline bool HeaderFromFile(const std::string &path, s_vrk_cpio_header *h) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  h->c_magic = VRK_MAGIC_OWN;
  h->c_ino_low = (uint32_t)st.st_ino;
  h->c_mode = st.st_mode;
  h->c_uid = st.st_uid;
  h->c_gid = st.st_gid;
  h->c_nlink = (uint32_t)st.st_nlink;
  h->c_mtime = (uint32_t)st.st_mtime;
  h->c_filesize_low = S_ISREG(st.st_mode) ? (uint32_t)st.st_size : 0;
  h->c_dev_maj = (int32_t)major(st.st_dev);
  h->c_dev_min = (int32_t)minor(st.st_dev);
  h->c_rdev_maj = (int32_t)major(st.st_rdev);
  h->c_rdev_min = (int32_t)minor(st.st_rdev);
  return true;
}

// Writes header, name, padding, data and padding through the data gate.
inline bool WriteItem(s_vrk_cpio_header *h, const std::string &name, const std::string &data) {
  strncpy(h->c_name, name.c_str(), sizeof(h->c_name) - 1);
  h->c_namesize = (uint32_t)name.size() + 1;
  h->c_filesize_low = (uint32_t)data.size();
  char text[VRK_HDR_BUFSIZE];
  char err[VRK_HDR_ERROR_SIZE] = {0};
  int len = 0;
  int n = vrk_make_header(h, text, &len, err);
  if (n <= 0) return false;
  std::string entry(text, (size_t)n);
  entry += name;
  entry += '\0';
  entry.append((size_t)vrk_pad(entry.size(), h->c_magic), '\0');
  entry += data;
  entry.append((size_t)vrk_pad(data.size(), h->c_magic), '\0');
  return vrk_bsa_write(entry.data(), entry.size(), 10) == (ssize_t)entry.size();
}

inline bool WriteTrailer() {
  auto h = NewHeader();
  h->c_magic = VRK_MAGIC_OWN;
  h->c_nlink = 1;
  return WriteItem(h.get(), "TRAILER!!!", "");
}

// Header text length for the magic text at the start of an item.
inline size_t HeaderLength(const char *magic) {
  if (memcmp(magic, "070707", 6) == 0) return VRK_HDR_ODC_LEN;
  if (memcmp(magic, "070701", 6) == 0) return VRK_HDR_NEWC_LEN;
  return VRK_HDR_OWN_LEN;
}

// Reads one item through the archive reads: 1 with header, name and data,
// 0 at the trailer, -1 on a short or damaged entry.
inline int ReadItem(s_vrk_cpio_header *h, std::string *data) {
  char text[VRK_HDR_BUFSIZE] = {0};
  if (vrk_archive_read_full(text, 6) != 6) return -1;
  size_t hlen = HeaderLength(text);
  if (vrk_archive_read_full(text + 6, hlen - 6) != hlen - 6) return -1;
  char err[VRK_HDR_ERROR_SIZE];
  if (vrk_get_header(text, h, err) != 0) return -1;
  if (h->c_namesize == 0 || h->c_namesize >= sizeof(h->c_name)) return -1;
  if (vrk_archive_read_full(h->c_name, h->c_namesize) != h->c_namesize) return -1;
  std::string pad((size_t)vrk_pad(hlen + h->c_namesize, h->c_magic), '\0');
  if (vrk_archive_read_full(&pad[0], pad.size()) != pad.size()) return -1;
  if (strcmp(h->c_name, "TRAILER!!!") == 0) return 0;
  uint64_t size = ((uint64_t)h->c_filesize_high << 32) | h->c_filesize_low;
  data->assign((size_t)size, '\0');
  if (vrk_archive_read_full(&(*data)[0], data->size()) != data->size()) return -1;
  pad.assign((size_t)vrk_pad(data->size(), h->c_magic), '\0');
  if (vrk_archive_read_full(&pad[0], pad.size()) != pad.size()) return -1;
  return 1;
}

}  // namespace vrktest

#endif
