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

class CM2VParser : public CPendingParser {
 public:
  CM2VParser() : CPendingParser(kSctMpeg2, {".mpv", ".m2v"}) {}
};
class CVc1Parser : public CPendingParser {
 public:
  CVc1Parser() : CPendingParser(kSctVc1, {".vc1"}) {}
};
class CLPCMParser : public CPendingParser {
 public:
  CLPCMParser() : CPendingParser(kSctLpcm, {".wav"}) {}
};
class CMlpParser : public CPendingParser {
 public:
  CMlpParser() : CPendingParser(kSctMlp, {".mlp", ".thd"}) {}
};

}  // namespace zv
