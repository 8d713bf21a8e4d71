#include "graphics/page_reach.h"

#include <deque>
#include <map>
#include <set>
#include <string>

#include "bdnav/navcmd.h"

namespace zv {

std::vector<uint16_t> UnreachableButtons(const SIgPage& page) {
  constexpr uint16_t kNoId = 0xFFFF;
  std::map<uint16_t, const SButton*> byId;
  for (const auto& bog : page.bogs)
    for (const auto& b : bog.buttons) byId.emplace(b.id, &b);
  std::deque<uint16_t> queue;
  std::set<uint16_t> seen;
  auto visit = [&](uint16_t id) {
    if (byId.count(id) && seen.insert(id).second) queue.push_back(id);
  };
  if (byId.count(page.defaultSelectedButtonId)) {
    visit(page.defaultSelectedButtonId);
  } else {
    for (const auto& bog : page.bogs) visit(bog.defaultButtonIdRef);
  }
  if (queue.empty()) return {};
  while (!queue.empty()) {
    const SButton& b = *byId.at(queue.front());
    queue.pop_front();
    for (uint16_t n : {b.up, b.down, b.left, b.right}) visit(n);
    if (!b.autoAction) continue;
    for (const auto& raw : b.commands) {
      CNavCmd c;
      c.bytes = raw;
      if (NavKeywordOf(c) != kNavSetButtonPage) continue;
      // "SetButtonPage <button, X or a register> <page> 1".
      const std::string text = CommandText(c);
      const size_t from = text.find(' ') + 1, to = text.find(' ', from);
      const std::string button = text.substr(from, to - from);
      if (button == "X") continue;
      if (button.find_first_not_of("0123456789") != std::string::npos) return {};
      visit(static_cast<uint16_t>(std::stoul(button)));
    }
  }
  std::vector<uint16_t> out;
  for (const auto& [id, b] : byId) {
    // A button that draws nothing is not offered to the viewer.
    const bool drawn = b->selected.startObjectId != kNoId || b->normal.startObjectId != kNoId;
    if (!seen.count(id) && drawn) out.push_back(id);
  }
  return out;
}

}  // namespace zv
