// Progress reporting from long operations to whoever drives them.
#pragma once

#include <cstdint>
#include <string>

namespace zv {

// Result codes shared by parsers, multiplexer and builders. Parsers add their
// own codes above kFailed (see streams/parse_result.h).
enum : int { kOk = 0, kCancelled = 1, kFailed = 2 };

enum ProgressKind : int32_t {
  kProgressValue = 0,   // value = percentage or bar position
  kProgressItem = 1,    // a new item or log line in item
  kProgressAction = 2,  // the current action in action
  kProgressHide = 3,    // hide the progress bar
};

struct SProgressInfo {
  int32_t kind = kProgressValue;
  int32_t value = 0;
  std::string item;
  std::string action;
};

// Returns 0 to ask the operation to stop.
using ProgressCallback = int (*)(void* context, const SProgressInfo* info);

// Callback plus its context, passed by value through long operations.
struct Progress {
  ProgressCallback fn = nullptr;
  void* context = nullptr;

  // True when the operation may go on.
  bool Report(const SProgressInfo& info) const { return fn == nullptr || fn(context, &info) != 0; }
  bool Value(int32_t v) const {
    SProgressInfo i;
    i.kind = kProgressValue;
    i.value = v;
    return Report(i);
  }
  bool Item(const std::string& text) const {
    SProgressInfo i;
    i.kind = kProgressItem;
    i.item = text;
    return Report(i);
  }
  bool Action(const std::string& text) const {
    SProgressInfo i;
    i.kind = kProgressAction;
    i.action = text;
    return Report(i);
  }
  bool Hide() const {
    SProgressInfo i;
    i.kind = kProgressHide;
    return Report(i);
  }
};

}  // namespace zv
