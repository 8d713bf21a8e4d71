// Parsers whose codecs are not analysed yet. They keep their place and
// extensions in the recognition order and answer "not mine" to every file,
// so such files end as "Unknown file format! " unless another parser
// recognises them.
#pragma once

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class CPendingParser : public CParserBase {
 public:
  using CParserBase::CParserBase;
  bool Probe(File&) override { return false; }
};

class CDTSParser : public CPendingParser {
 public:
  CDTSParser() : CPendingParser(kSctDts, {".dts", ".dca", ".dtshd"}) {}
};

}  // namespace zv
