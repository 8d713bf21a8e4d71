// Building a menu model from a layered design. Groups named "IG:...",
// "DS:...", "P:...", "BOG:..." and "B:..." make the menu, its display set,
// pages, button overlap groups and buttons; layers named "N:...", "S:..."
// and "A:..." inside a button group are its normal, selected and activated
// pictures. All pictures of a page share one palette.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "graphics/menu_model.h"
#include "graphics/psd_file.h"
#include "platform/image.h"
#include "platform/progress.h"

namespace zv {

enum PsdImportResult : int {
  kPsdImportOk = kOk,
  kPsdImportCancelled = kCancelled,
  kPsdWrongFile = kFailed,
  kPsdUndefinedButton,
  kPsdUndefinedBog,
  kPsdUndefinedPage,
  kPsdUndefinedDisplaySet,
  kPsdUndefinedIg,
  kPsdMultiDisplaySet,
  kPsdMultiIg,
  kPsdLayerImageFailed,
  kPsdNoDisplaySet,
  kPsdTooManyButtons,
  kPsdTooManyGraphics,
};
// The message shown for a result code.
const char* PsdImportMessage(int code);

// The state layers (indices into the document's layers) of one button.
struct SPsdButtonLayers {
  CBdButton* button = nullptr;
  std::array<std::vector<size_t>, 3> states;  // normal, selected, activated
};

// Fills `ig` (its first epoch, made when missing) from the document's
// groups and layers, walking from the top of the layer list down. Reports
// a line per finished page through `progress` and stops when it answers 0.
// On failure `ig` is half-built and meant to be thrown away.
int BuildMenuFromPsd(CIgObject& ig, CPsdFile& psd, const Progress& progress = {});

// Renders the state layers of a page's buttons, quantizes them to one new
// palette of `epoch`, makes a graphic object of each picture (padded to the
// button's rectangle), places and numbers the buttons and computes their
// neighbours.
int BuildPageGraphics(CPage& page, CEpoch& epoch, CPsdFile& psd, const std::vector<SPsdButtonLayers>& buttons);

// The pictures as indexed pictures sharing one colour table: a single one
// is converted alone, several are laid side by side on one canvas that is
// converted once and cut apart again. Nothing when there are none or the
// conversion fails.
std::optional<std::vector<CPicture>> CommonPaletteQuantize(const std::vector<CPicture>& pictures);

// The import keeps the design converted to a graphics stream beside it:
// the design's path with the extension ".ies".
std::string ConvertedStreamPath(const std::string& design);
// Whether the converted stream can be imported instead of converting the
// design again: it exists and was modified later than the design (equal
// times convert again).
bool ConvertedStreamIsCurrent(const std::string& design, const std::string& stream);
// Writes the side file of a converted stream (its path with the extension
// ".txt", three lines "1", "0", "1"). A file of that name with other
// content is the user's (a chapter list, notes) and is left alone: false
// with `error` saying so. False with `error` when it cannot be written.
// After the three lines come the names of the converted model's pages,
// BOGs and buttons ("page\tNAME", "bog\tNAME", "button\tNAME" in stream
// order): the stream does not carry them, and a button's type follows from
// its name.
bool WriteConversionSideFile(const std::string& stream, std::string& error,
                             const std::vector<std::string>& names = {});
// The name lines of the side file of `stream`; nothing when it is missing
// or not the import's.
std::optional<std::vector<std::string>> ReadConversionSideFile(const std::string& stream);

}  // namespace zv
