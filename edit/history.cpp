#include "edit/history.h"

#include <utility>

#include "platform/progress.h"

namespace zvedit {

namespace {

// Snapshots keep absolute paths, so they do not depend on where the project
// is saved later (Save As).
std::vector<uint8_t> Snap(zv::CZvObject& project) { return zv::StoreProject(project, std::string()); }

}  // namespace

void CHistory::Reset(zv::CZvObject& project) {
  undo_.clear();
  redo_.clear();
  held_ = 0;
  current_ = Snap(project);
  saved_ = current_;
}

void CHistory::Commit(zv::CZvObject& project) {
  Snapshot now = Snap(project);
  if (now == current_) return;  // nothing changed: no step to undo
  for (const Snapshot& s : redo_) held_ -= s.size();
  redo_.clear();
  held_ += current_.size();
  undo_.push_back(std::move(current_));
  current_ = std::move(now);
  Trim();
}

void CHistory::Trim() {
  while (!undo_.empty() && (held_ > bound_ || undo_.size() > kMaxSteps)) {
    held_ -= undo_.front().size();
    undo_.pop_front();
  }
}

int CHistory::Restore(zv::CZvObject& project, const Snapshot& s, zv::IPrompt& prompt, std::string& message) {
  if (zv::LoadProject(s, std::string(), project, message) != zv::kOk) return zv::kFailed;
  project.ReloadSources(zv::Progress{}, prompt);
  return zv::kOk;
}

// Undo and redo are the same move: the top of `from` becomes the current
// state, which goes onto `to`. A failed load puts the current state back.
int CHistory::Step(std::deque<Snapshot>& from, std::deque<Snapshot>& to, zv::CZvObject& project, zv::IPrompt& prompt,
                   std::string& message) {
  Snapshot target = std::move(from.back());
  from.pop_back();
  held_ -= target.size();
  if (Restore(project, target, prompt, message) != zv::kOk) {
    // A failed load empties the project: put the current state back.
    std::string ignored;
    Restore(project, current_, prompt, ignored);
    held_ += target.size();
    from.push_back(std::move(target));
    return zv::kFailed;
  }
  held_ += current_.size();
  to.push_back(std::move(current_));
  current_ = std::move(target);
  return zv::kOk;
}

int CHistory::Undo(zv::CZvObject& project, zv::IPrompt& prompt, std::string& message) {
  if (undo_.empty()) return message = "nothing to undo", zv::kFailed;
  return Step(undo_, redo_, project, prompt, message);
}

int CHistory::Redo(zv::CZvObject& project, zv::IPrompt& prompt, std::string& message) {
  if (redo_.empty()) return message = "nothing to redo", zv::kFailed;
  const int rc = Step(redo_, undo_, project, prompt, message);
  if (rc == zv::kOk) Trim();  // the undo side grew
  return rc;
}

}  // namespace zvedit
