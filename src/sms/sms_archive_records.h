// The archive records of a state file in memory, by directory: a sorted list
// of terminal names in each, looked up by key or a directory at a time.
#ifndef VRK_SMS_SMS_ARCHIVE_RECORDS_H
#define VRK_SMS_SMS_ARCHIVE_RECORDS_H

#include <stddef.h>

#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "sms/sms_archive.h"

namespace vrksms {

// The records of one directory's entries, by terminal name (a directory's
// with a "/" after it), in byte order: a scan looks up a directory's entries
// in one short list instead of a lookup of its own for each.
struct ArchiveDir {
  using Entry = std::pair<std::string, ArchiveRecord>;
  std::vector<Entry> list;
  bool sorted = true;

  // The entry of leaf, or list.end().
  std::vector<Entry>::const_iterator Find(const std::string &leaf) const;
};

// Splits a key into its directory ("a/b/", "" at the top) and terminal name
// ("c", or "c/" for a directory's own key; "/" for the resource's top).
std::pair<std::string, std::string> SplitArchiveKey(const std::string &key);

// Every record of a state file, by directory.
class ArchiveRecords {
 public:
  bool Find(const std::string &key, ArchiveRecord &out) const;
  const ArchiveDir *Dir(const std::string &dir) const;  // null: none
  void Set(const std::string &key, const ArchiveRecord &rec);
  // Lines as read: in any order, a later one of a key winning; Finish sorts.
  void Add(const std::string &key, const ArchiveRecord &rec);
  void Finish();
  // Drops the records of keys and those beneath the directories of dirs (keys
  // "a/b/"); the number dropped.
  size_t Drop(const std::unordered_set<std::string> &keys, const std::unordered_set<std::string> &dirs);
  // Drops the records that drop(record) picks; the number dropped.
  template <typename P>
  size_t DropIf(P drop) {
    size_t dropped = 0;
    for (auto it = dirs_.begin(); it != dirs_.end();) {
      dropped += Filter(it->second.list, [&](const ArchiveDir::Entry &e) { return drop(e.second); });
      it = it->second.list.empty() ? dirs_.erase(it) : std::next(it);
    }
    size_ -= dropped;
    return dropped;
  }
  size_t size() const { return size_; }
  template <typename F>
  void ForEach(F f) const {
    std::string key;
    for (const auto &kv : dirs_)
      for (const auto &e : kv.second.list) {
        key.assign(kv.first);
        key += e.first;
        f(key, e.second);
      }
  }
  void swap(ArchiveRecords &o) {
    dirs_.swap(o.dirs_);
    std::swap(size_, o.size_);
  }

 private:
  // Removes the entries of list that drop(entry) picks, keeping the order;
  // the number removed.
  template <typename P>
  static size_t Filter(std::vector<ArchiveDir::Entry> &list, P drop) {
    size_t out = 0;
    for (size_t i = 0; i < list.size(); ++i) {
      if (drop(list[i])) continue;
      if (out != i) list[out] = std::move(list[i]);
      ++out;
    }
    const size_t removed = list.size() - out;
    list.resize(out);
    return removed;
  }

  std::unordered_map<std::string, ArchiveDir> dirs_;
  size_t size_ = 0;
};

}  // namespace vrksms

#endif
