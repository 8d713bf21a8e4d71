#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command.h"
#include "app/dump.h"
#include "platform/file.h"

namespace zvapp {

static std::vector<DumperInfo>& List() {
  static std::vector<DumperInfo> list;
  return list;
}

void AddDumper(const DumperInfo& info) { List().push_back(info); }

static std::string& PicturesFolder() {
  static std::string folder;
  return folder;
}
const std::string& DumpPicturesFolder() { return PicturesFolder(); }
static uint64_t& PacketCount() {
  static uint64_t count = 10;
  return count;
}
uint64_t DumpPacketCount() { return PacketCount(); }
const std::vector<DumperInfo>& Dumpers() { return List(); }

static int RunDump(const std::vector<std::string>& argv);

ZV_COMMAND("dump", "print the text dump of a file Zelvane writes",
           "zelvane dump FILE [--json] [--pictures DIR] [--packets N]\n"
           "  FILE   a .mpls, .clpi, index.bdmv, MovieObject.bdmv, id.bdmv, sound.bdmv, .zvpj, .sup, .pg, .ig, .ies,\n"
           "         .m2ts ... file\n"
           "  --json print a JSON document instead of text\n"
           "  --pictures DIR  graphics streams: also write every object, drawn with its palette, as a PNG into DIR\n"
           "  --packets N     clips (.m2ts): dump the first N source packets (default 10)",
           "zelvane dump DISC/BDMV/index.bdmv", RunDump);

static int RunDump(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("dump");
  if (int rc = CheckOptions(self, argv, {"--json", "--pictures", "--packets"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {"--pictures", "--packets"}, err)) return UsageError(self, err);
  PicturesFolder() = args.Value("--pictures");
  if (args.Count() != 1) return UsageError(self, "expected one FILE");
  const std::string packets = args.Value("--packets");
  if (!packets.empty()) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(packets.c_str(), &end, 10);
    if (!std::isdigit(static_cast<unsigned char>(packets[0])) || *end != '\0' || errno != 0 || n == 0)
      return UsageError(self, "--packets takes a count of at least 1, not \"" + packets + "\"");
    PacketCount() = n;
  }
  const std::string& path = args[0];
  zv::File f;
  if (!f.Open(path, zv::File::kRead)) return Fail(f.Error());
  std::vector<uint8_t> head(64);
  int64_t n = f.Read(head.data(), head.size());
  if (n < 0) return Fail(f.Error());
  head.resize(static_cast<size_t>(n));
  for (const auto& d : Dumpers()) {
    if (!d.match(path, head)) continue;
    // Dumpers that recognise their files by content themselves carry no magic.
    const size_t m = d.magic ? std::strlen(d.magic) : 0;
    if (m > 0 && (head.size() < m || std::memcmp(head.data(), d.magic, m) != 0))
      return Fail("\"" + path + "\": not a " + d.name + " file (it does not begin with \"" + d.magic + "\")");
    if (!packets.empty() && std::strcmp(d.name, kClipDumperName) != 0)
      return UsageError(self, "--packets applies to clips (.m2ts), not to a " + std::string(d.name) + " file");
    return d.dump(path, args.Has("--json"));
  }
  return Fail("\"" + path + "\": not a file type that zelvane can dump");
}

}  // namespace zvapp
