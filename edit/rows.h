// Reading the rows Describe gives: what `show` and `--json` print of an
// object comes from the same description the grid and `set` use.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "chapters/chapters.h"
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

// What the object shows but `set` does not change (ids, sizes, sources,
// chapters, effects), read-only: the grid greys them. Graphic sizes are
// known once LoadGraphicSizes has read the menu's pictures.
std::vector<PropertyInfo> Facts(zv::CNamedObject& obj);
// A clip track's: its number, description, path, coding type, and the
// PID in the existing clip it is taken from.
std::vector<PropertyInfo> TrackFacts(zv::CStoryObject& story, size_t index);

// A chapter's start as the shells print it: a timecode at the item's rate,
// "end", or "frame N" while the rate is unknown.
std::string ChapterTime(const zv::CChapterPoint& p, uint8_t fpsCode);

// A button state's pictures as the description gives them ("A", "A,B",
// "A,none", "none") split into start and end, "none" where there is none.
inline std::pair<std::string, std::string> StatePair(const std::string& value) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos) return {value, value};
  return {value.substr(0, comma), value.substr(comma + 1)};
}

}  // namespace zvedit
