// Undo and redo of changes to a project, by snapshots of the project in its
// own archive form. A snapshot of a project of a few hundred objects is a
// few kilobytes, so whole snapshots are simpler and safer than recording
// each change. The snapshots kept for undo and redo together stay within a
// byte bound; the oldest undo steps are dropped first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "model/project.h"
#include "platform/prompt.h"

namespace zvedit {

class CHistory {
 public:
  static constexpr size_t kDefaultBound = 64u << 20;  // bytes of snapshots kept
  static constexpr size_t kMaxSteps = 1000;

  explicit CHistory(size_t boundBytes = kDefaultBound) : bound_(boundBytes) {}

  // Starts over with `project` as it is now, unmodified (after New or Open).
  void Reset(zv::CZvObject& project);
  // Records the project after a change; forgets what could be redone.
  void Commit(zv::CZvObject& project);
  // Puts the project back to the state before (after) the last change.
  // Sources are reopened from their analysis caches; what reopening says
  // goes to `prompt`. kOk, or kFailed with `message`.
  int Undo(zv::CZvObject& project, zv::IPrompt& prompt, std::string& message);
  int Redo(zv::CZvObject& project, zv::IPrompt& prompt, std::string& message);
  // Drops what changed since the last Commit (a command that failed half way).
  int Revert(zv::CZvObject& project, zv::IPrompt& prompt, std::string& message) {
    return Restore(project, current_, prompt, message);
  }
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  size_t UndoSteps() const { return undo_.size(); }
  // Whether the current state differs from the one last marked saved.
  bool IsModified() const { return current_ != saved_; }
  void MarkSaved() { saved_ = current_; }
  // Bytes held by the undo and redo snapshots.
  size_t HeldBytes() const { return held_; }

 private:
  using Snapshot = std::vector<uint8_t>;
  int Restore(zv::CZvObject& project, const Snapshot& s, zv::IPrompt& prompt, std::string& message);
  int Step(std::deque<Snapshot>& from, std::deque<Snapshot>& to, zv::CZvObject& project, zv::IPrompt& prompt,
           std::string& message);
  void Trim();

  size_t bound_;
  size_t held_ = 0;
  std::deque<Snapshot> undo_;
  std::deque<Snapshot> redo_;
  Snapshot current_;
  Snapshot saved_;
};

}  // namespace zvedit
