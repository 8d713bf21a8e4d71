// Reading the rows Describe gives: what `show` and `--json` print of an
// object comes from the same description the grid and `set` use.
#pragma once

#include <string>
#include <vector>

#include "edit/properties.h"
#include "model/project.h"

namespace zvedit {

// The value of `key`, empty when the object has no such row.
inline std::string RowValue(const std::vector<PropertyInfo>& rows, const std::string& key) {
  for (const PropertyInfo& r : rows)
    if (r.key == key) return r.value;
  return {};
}

inline bool RowYes(const std::vector<PropertyInfo>& rows, const std::string& key) {
  const std::string v = RowValue(rows, key);
  return v == "yes" || v == "1";
}

inline long RowNumber(const std::vector<PropertyInfo>& rows, const std::string& key) {
  const std::string v = RowValue(rows, key);
  return v.empty() ? 0 : std::stol(v);
}

// Every value of a key given once per item (a play item's `track`).
inline std::vector<std::string> RowValues(const std::vector<PropertyInfo>& rows, const std::string& key) {
  std::vector<std::string> out;
  for (const PropertyInfo& r : rows)
    if (r.key == key) out.push_back(r.value);
  return out;
}

// The rows of an object the caller holds directly (not by path).
std::vector<PropertyInfo> DescribeObject(zv::CZvObject& project, zv::CNamedObject& obj);
std::vector<PropertyInfo> DescribeTrackOf(zv::CZvObject& project, zv::CStoryObject& story, size_t index);

}  // namespace zvedit
