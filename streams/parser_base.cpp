#include "streams/parser_base.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/paths.h"
#include "streams/ac3_parser.h"
#include "streams/coding_type.h"
#include "streams/dts_parser.h"
#include "streams/gs_parser.h"
#include "streams/h264_parser.h"
#include "streams/lpcm_parser.h"
#include "streams/mlp_parser.h"
#include "streams/mpeg2_parser.h"
#include "streams/parse_result.h"
#include "streams/vc1_parser.h"

namespace zv {

bool ReadHead(File& file, uint8_t* buf, size_t n, size_t& got) {
  got = 0;
  if (!file.Seek(0)) return false;
  int64_t r = file.Read(buf, n);
  if (r < 0) return false;
  got = static_cast<size_t>(r);
  return true;
}

bool CParserBase::MatchExtension(const std::string& path) const {
  std::string ext = ToLower(ExtensionOf(path));
  return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

int CParserBase::ProbeFile(const std::string& path) {
  File f;
  if (!f.Open(path, File::kRead)) return kParseOpenError;
  return Probe(f) ? kParseOk : kParseUnknownFormat;
}

int CParserBase::Parse(File&, SStreamContext&, const Progress&) { return kParseUnknownFormat; }

int CParserBase::WriteSifHead(SStreamContext& ctx) {
  ArchiveOut rec;
  if (ctx.sif) ctx.sif->Save(rec);
  ctx.header.auTablePos = static_cast<uint32_t>(SSifHeader::kSize + rec.Bytes().size());
  ArchiveOut head;
  ctx.header.Save(head);
  if (!ctx.sifFile.Seek(0) || !ctx.sifFile.Write(head.Bytes().data(), head.Bytes().size()) ||
      !ctx.sifFile.Write(rec.Bytes().data(), rec.Bytes().size()))
    return kParseWriteError;
  return kParseOk;
}

int CParserBase::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  File f;
  if (!f.Open(path, File::kRead)) return kParseOpenError;
  if (!Probe(f)) return kParseUnknownFormat;
  ctx.header = SSifHeader{};
  std::memcpy(ctx.header.magic, "RSIF", 4);
  ctx.header.streamCodingType = streamCodingType;
  ctx.header.sourceTime = FileTimeNs(path);
  ctx.sif = CreateSifData(streamCodingType);
  if (int r = WriteSifHead(ctx)) return r;
  uint32_t tablePos = ctx.header.auTablePos;
  if (!f.Seek(0)) return kParseReadError;
  int r = Parse(f, ctx, progress);
  f.Close();
  if (r != kParseOk) return r;
  if (int w = WriteSifHead(ctx)) return w;
  // The record must keep its size, or the table behind it would move;
  // computed units have no table (an AC-3 record grows by its E-AC-3 part).
  if (ctx.header.auTablePos != tablePos && !IsFixedRateAudio(ctx.header.streamCodingType)) return kParseWriteError;
  progress.Value(100);
  return kParseOk;
}

std::vector<std::unique_ptr<CParserBase>> CreateParsers() {
  std::vector<std::unique_ptr<CParserBase>> v;
  v.push_back(std::make_unique<CM2VParser>());
  v.push_back(std::make_unique<CH264Parser>());
  v.push_back(std::make_unique<CVc1Parser>());
  v.push_back(std::make_unique<CLPCMParser>());
  v.push_back(std::make_unique<CAC3Parser>());
  v.push_back(std::make_unique<CMlpParser>());
  v.push_back(std::make_unique<CDTSParser>());
  v.push_back(std::make_unique<CGsParser>());
  return v;
}

namespace {
// A parser that gave up may have written part of a table; the next one
// starts from an empty file.
int RunParser(CParserBase& parser, const std::string& path, SStreamContext& ctx, const Progress& progress) {
  if (!ctx.sifFile.Truncate(0)) return kParseWriteError;
  return parser.ParseFile(path, ctx, progress);
}
// The extension pass, then the content pass.
int RunParsers(std::vector<std::unique_ptr<CParserBase>>& parsers, const std::string& path, SStreamContext& ctx,
               const Progress& progress) {
  int result = kParseUnknownFormat;
  size_t tried = parsers.size();
  for (size_t i = 0; i < parsers.size(); ++i) {
    if (parsers[i]->MatchExtension(path)) {
      tried = i;
      result = RunParser(*parsers[i], path, ctx, progress);
      break;
    }
  }
  if (result == kParseUnknownFormat) {
    for (size_t i = 0; i < parsers.size(); ++i) {
      if (i == tried) continue;
      result = RunParser(*parsers[i], path, ctx, progress);
      if (result != kParseUnknownFormat) break;
    }
  }
  return result;
}
}  // namespace

int AnalyseStreamFile(const std::string& path, SStreamContext& ctx, std::string& message, const Progress& progress,
                      IPrompt* prompt) {
  message.clear();
  auto parsers = CreateParsers();
  for (auto& p : parsers) p->prompt = prompt;
  if (progress.fn) {
    progress.Item(path);
    progress.Action("Parsing");
  }
  // Written under a new name of its own and renamed into place when
  // complete: an old file or a link in its place is replaced, never written
  // through, and a failed analysis leaves the old file as it was.
  std::string writing;
  auto openNew = [&](const std::string& final) {
    // A folder in its place could not be renamed over.
    struct stat st;
    if (::lstat(final.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    // Left by killed runs: of any process that is gone, or of this id.
    const size_t slash = final.find_last_of('/');
    RemoveTempsOfDeadRuns(slash == std::string::npos ? std::string() : final.substr(0, slash),
                          final.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp~", false);
    writing = final + ".tmp~" + std::to_string(::getpid());
    ::unlink(writing.c_str());
    return ctx.sifFile.Open(writing, File::kCreateNew);
  };
  // Beside the stream when possible; a stream folder that cannot take the
  // file, or that fills up while it is written, sends it to the temporary
  // folder.
  const std::string places[2] = {SifPathBeside(path), SifPathInTemp(path)};
  // Taken before the parse: a stream changed while it is read no longer
  // matches what was stored and is analysed again on its next use.
  SStreamIdentity identity;
  if (!SStreamIdentity::Of(path, identity)) {
    message = ParseResultMessage(kParseOpenError);
    return kParseOpenError;
  }
  int result = kParseCreateSifError;
  std::string writeError;
  std::string previous;
  for (const std::string& place : places) {
    if (place == previous && result != kParseCreateSifError) break;  // the same file again
    previous = place;
    ctx.sifFile.Close();
    ctx.sifPath = place;
    ctx.errorOffset = -1;
    ctx.errorDetail.clear();
    if (!openNew(ctx.sifPath)) {
      result = kParseCreateSifError;
      continue;
    }
    result = RunParsers(parsers, path, ctx, progress);
    if (result == kParseOk && !AppendSifTrailer(ctx.sifFile, identity)) result = kParseWriteError;
    if (result == kParseOk && !ctx.sifFile.Close()) result = kParseWriteError;
    if (result == kParseOk && ::rename(writing.c_str(), ctx.sifPath.c_str()) != 0) result = kParseWriteError;
    if (result == kParseOk) break;
    if (result == kParseWriteError) writeError = ctx.sifFile.Error();
    ctx.sifFile.Close();
    ::unlink(writing.c_str());
    if (result != kParseWriteError) break;
  }
  if (result != kParseOk) {
    ctx.sifFile.Close();
    ctx.sifPath.clear();
    ctx.sif.reset();
    ctx.header = SSifHeader{};
    if (result >= 2) message = ParseResultMessage(result);
    // The message stays the system's own; what we know is added below it.
    if (result == kParseWriteError && !writeError.empty()) message += "\n" + writeError;
    if (result == kParseSyntax && ctx.errorOffset >= 0)
      message += "\n(at byte " + std::to_string(ctx.errorOffset) + " of the stream file)";
    if (!ctx.errorDetail.empty()) message += "\n" + ctx.errorDetail;
  }
  return result;
}

}  // namespace zv
