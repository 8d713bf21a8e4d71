// The editable settings of a project's objects, described once for every
// shell: which keys an object has, what kind of value each takes (with its
// choices or range), how it reads, and how a new value is checked and
// applied. `set`, `show` and the property grid all go through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/menu.h"
#include "model/project.h"

namespace zvedit {

// The object a setting applies to. Tracks are not objects of the tree, so
// "CLIP/Track#N" names the clip and the track's index.
struct Target {
  zv::CNamedObject* object = nullptr;
  zv::CStoryObject* story = nullptr;  // the clip when `isTrack`
  bool isTrack = false;
  size_t trackIndex = 0;
};

// Resolves an object path as `set` takes it; false with `error` (the whole
// message) when there is no such object or track.
bool FindTarget(zv::CZvObject& project, const std::string& path, Target& target, std::string& error);

// Whether the object kind has settings at all.
bool HasSettings(const Target& target);

// Checks and applies KEY=VALUE. On refusal `error` says why, in the words
// `set` prints after the object's path, and the object is unchanged.
bool ApplyProperty(zv::CZvObject& project, const Target& target, const std::string& key, const std::string& value,
                   std::string& error);
// After a change of a track: mirrors its enabled flag into the play items
// that play its clip.
void FinishChange(const Target& target);

enum class ValueKind { kText, kBool, kInt, kChoice, kLanguage };

struct PropertyInfo {
  std::string key;
  ValueKind kind = ValueKind::kText;
  long lo = 0, hi = 0;                // kInt
  std::vector<std::string> choices;  // kChoice: the valid values
  std::string value;                 // the current value, as `set` takes it
};

// The settings of the target in display order, each with its current value.
// Applying any of them with its current value leaves the project unchanged,
// except a button's `type`, which clears the type's choices when chosen
// again; so a shell applies only values that changed.
std::vector<PropertyInfo> Describe(zv::CZvObject& project, const Target& target);

// Menu parts: pages, BOGs and buttons.
bool IsMenuPart(const zv::CNamedObject& obj);
bool SetMenuPart(zv::CNamedObject& obj, const std::string& key, const std::string& value, std::string& error);
// The graphic of the epoch named `name` (any letter case), or null.
zv::CGraphicObject* FindGraphic(zv::CEpoch* epoch, const std::string& name);
// Reads the size of every graphic of the menu's epochs whose picture has
// not been decoded yet (sizes are not stored in the project file).
void LoadGraphicSizes(zv::CIgObject& menu);

}  // namespace zvedit
