// The parser framework: a parser per codec, chosen by extension and then by
// content, each analysing a stream file into its stream-information file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/stream_context.h"

namespace zv {

// The percentage of a stream read so far, reported at most once per 5 MiB
// so that a fast parse is not slowed by its progress display.
class CParseProgress {
 public:
  CParseProgress(const Progress& progress, int64_t length) : progress_(progress), length_(length > 0 ? length : 1) {}
  // False when the user asked to stop.
  bool At(int64_t position) {
    if (!progress_.fn || position - last_ < kStep) return true;
    last_ = position;
    return progress_.Value(static_cast<int32_t>(position * 100 / length_));
  }

 private:
  static constexpr int64_t kStep = 0x500000;
  const Progress& progress_;
  int64_t length_;
  int64_t last_ = 0;
};

class CParserBase {
 public:
  CParserBase(uint8_t type, std::vector<std::string> exts) : streamCodingType(type), extensions(std::move(exts)) {}
  virtual ~CParserBase() = default;
  CParserBase(const CParserBase&) = delete;
  CParserBase& operator=(const CParserBase&) = delete;

  virtual bool MatchExtension(const std::string& path) const;
  // Analyses the file into ctx.header, ctx.sif and ctx.sifFile (already
  // created by the caller). Returns a result code.
  virtual int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress);
  // 0 recognised, 2 not recognised, 4 cannot open.
  virtual int ProbeFile(const std::string& path);
  virtual bool Probe(File& file) = 0;
  virtual int Parse(File& file, SStreamContext& ctx, const Progress& progress);

  uint8_t streamCodingType;
  std::vector<std::string> extensions;
  // Where a parser shows the few messages it has besides its result code.
  IPrompt* prompt = nullptr;

 protected:
  // Writes the header and the record at the start of the stream-information
  // file and sets the access-unit table position behind them. 0 or 7.
  static int WriteSifHead(SStreamContext& ctx);
};

// Every parser, in the order they are tried.
std::vector<std::unique_ptr<CParserBase>> CreateParsers();

// Chooses a parser and runs it; for codes 2..45 `message` gets the result's
// text. On failure no stream-information file is left behind.
int AnalyseStreamFile(const std::string& path, SStreamContext& ctx, std::string& message, const Progress& progress,
                      IPrompt* prompt = nullptr);

// Reads the first bytes of a file (fewer at its end); false on a read error.
bool ReadHead(File& file, uint8_t* buf, size_t n, size_t& got);

}  // namespace zv
