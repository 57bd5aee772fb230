// The archive records in memory: directory lists kept in byte order of their
// terminal names, found by binary search.
#include "sms/sms_archive_records.h"

#include <algorithm>
#include <iterator>

namespace vrksms {

namespace {

bool NameBefore(const ArchiveDir::Entry &e, const std::string &leaf) { return e.first < leaf; }

}  // namespace

std::vector<ArchiveDir::Entry>::const_iterator ArchiveDir::Find(const std::string &leaf) const {
  auto it = std::lower_bound(list.begin(), list.end(), leaf, NameBefore);
  return it != list.end() && it->first == leaf ? it : list.end();
}

std::pair<std::string, std::string> SplitArchiveKey(const std::string &key) {
  size_t end = key.size();
  if (end > 0 && key[end - 1] == '/') --end;
  size_t p = end == 0 ? std::string::npos : key.rfind('/', end - 1);
  size_t cut = p == std::string::npos ? 0 : p + 1;
  return {key.substr(0, cut), key.substr(cut)};
}

bool ArchiveRecords::Find(const std::string &key, ArchiveRecord &out) const {
  auto parts = SplitArchiveKey(key);
  auto d = dirs_.find(parts.first);
  if (d == dirs_.end()) return false;
  auto it = d->second.Find(parts.second);
  if (it == d->second.list.end()) return false;
  out = it->second;
  return true;
}

const ArchiveDir *ArchiveRecords::Dir(const std::string &dir) const {
  auto d = dirs_.find(dir);
  return d == dirs_.end() ? nullptr : &d->second;
}

void ArchiveRecords::Set(const std::string &key, const ArchiveRecord &rec) {
  auto parts = SplitArchiveKey(key);
  auto &list = dirs_[parts.first].list;
  // A backup stores a directory's entries in name order: mostly at the end.
  auto it = std::lower_bound(list.begin(), list.end(), parts.second, NameBefore);
  if (it != list.end() && it->first == parts.second) {
    it->second = rec;
    return;
  }
  list.emplace(it, std::move(parts.second), rec);
  ++size_;
}

void ArchiveRecords::Add(const std::string &key, const ArchiveRecord &rec) {
  auto parts = SplitArchiveKey(key);
  ArchiveDir &d = dirs_[parts.first];
  if (!d.list.empty() && !(d.list.back().first < parts.second)) d.sorted = false;
  d.list.emplace_back(std::move(parts.second), rec);
}

void ArchiveRecords::Finish() {
  size_ = 0;
  for (auto &kv : dirs_) {
    ArchiveDir &d = kv.second;
    if (!d.sorted) {
      std::stable_sort(d.list.begin(), d.list.end(),
                       [](const ArchiveDir::Entry &a, const ArchiveDir::Entry &b) { return a.first < b.first; });
      // Of equal names the last line read wins.
      size_t out = 0;
      for (size_t i = 0; i < d.list.size(); ++i) {
        if (i + 1 < d.list.size() && d.list[i + 1].first == d.list[i].first) continue;
        if (out != i) d.list[out] = std::move(d.list[i]);
        ++out;
      }
      d.list.resize(out);
      d.sorted = true;
    }
    size_ += d.list.size();
  }
}

size_t ArchiveRecords::Drop(const std::unordered_set<std::string> &keys, const std::unordered_set<std::string> &dirs) {
  size_t dropped = 0;
  std::string key;
  auto gone = [&](const std::string &k) { return keys.count(k) != 0 || dirs.count(k) != 0; };
  for (auto it = dirs_.begin(); it != dirs_.end();) {
    const std::string &dir = it->first;
    // Beneath a gone directory: one of its ancestors (or itself) is named.
    bool beneath = false;
    for (size_t p = dir.find('/'); p != std::string::npos && !beneath; p = dir.find('/', p + 1))
      beneath = dirs.count(dir.substr(0, p + 1)) != 0;
    if (beneath) {
      dropped += it->second.list.size();
      it = dirs_.erase(it);
      continue;
    }
    auto &list = it->second.list;
    dropped += Filter(list, [&](const ArchiveDir::Entry &e) {
      const std::string &leaf = e.first;
      // Only a directory's own record can be named when no key is.
      if (keys.empty() && (leaf.empty() || leaf.back() != '/')) return false;
      key.assign(dir);
      key += leaf;
      return gone(key);
    });
    it = list.empty() ? dirs_.erase(it) : std::next(it);
  }
  size_ -= dropped;
  return dropped;
}

}  // namespace vrksms
