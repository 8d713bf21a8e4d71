// MovieObject.bdmv: the movie objects of a disc and their commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "records/dump_tree.h"

#include "bdnav/navcmd.h"

namespace zv {

struct MOVIE_OBJECT {
  bool resumeIntention = false;
  bool menuCallMask = false;
  bool titleSearchMask = false;
  CNavCmds commands;  // the command count is taken from here when encoding

  bool operator==(const MOVIE_OBJECT&) const = default;
};

struct MOVIE_OBJECTS {
  static constexpr size_t kHeaderSize = 40;

  std::string typeIndicator = "MOBJ";
  std::string version = "0200";
  uint32_t extensionDataStartAddress = 0;  // as read; the writer computes its own
  std::vector<MOVIE_OBJECT> objects;       // a movie object's id is its position
  // The extension-data block as stored (length field included), or empty.
  std::vector<uint8_t> extensionData;

  // Appends a movie object and returns it (valid until the next append).
  MOVIE_OBJECT& Add() { return objects.emplace_back(); }
};

// Writes MovieObject.bdmv; with a null `buf` only measures. Returns the
// length. More than 65535 objects or commands in one object throws
// std::out_of_range.
size_t EncodeMovieObjects(const MOVIE_OBJECTS& mobj, uint8_t* buf, size_t cap);
std::vector<uint8_t> EncodeMovieObjects(const MOVIE_OBJECTS& mobj);

// Reads an untrusted MovieObject.bdmv; returns the bytes consumed. Throws
// FormatError naming the part that is truncated or inconsistent.
size_t ParseMovieObjects(const uint8_t* data, size_t size, MOVIE_OBJECTS& out);

// Indented text lines with the format's field labels; commands as text.
std::string DumpMovieObjects(const MOVIE_OBJECTS& mobj, const std::string& indent = "");
void DumpMovieObjectsTree(const MOVIE_OBJECTS& mobj, SDumpNode& root);
// Dumps a file's bytes as read; throws FormatError like the reader.
void DumpMovieObjectsBytes(const uint8_t* data, size_t size, SDumpNode& root);

}  // namespace zv
