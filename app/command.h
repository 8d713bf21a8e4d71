// The shell's sub-command registry. Each command lives in its own file
// app/cmd_*.cpp and registers itself with ZV_COMMAND; names may have two
// words ("movie add").
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace zvapp {

enum ExitCode : int { kExitOk = 0, kExitCancelled = 1, kExitFailed = 2, kExitUsage = 64 };

// Parsed arguments of one command: flags ("--yes"), valued options
// ("--lang eng" or "--lang=eng", repeatable) and positionals.
class Args {
 public:
  // `valued` lists the options that take a value.
  bool Parse(const std::vector<std::string>& argv, const std::set<std::string>& valued, std::string& error);
  bool Has(const std::string& flag) const { return flags_.count(flag) != 0; }
  std::vector<std::string> Values(const std::string& opt) const;
  std::string Value(const std::string& opt, const std::string& def = {}) const;
  const std::vector<std::string>& Pos() const { return pos_; }
  size_t Count() const { return pos_.size(); }
  const std::string& operator[](size_t i) const { return pos_.at(i); }

 private:
  std::set<std::string> flags_;
  std::multimap<std::string, std::string> values_;
  std::vector<std::string> pos_;
};

struct CommandInfo {
  const char* name;     // "build", "movie add"
  const char* summary;  // one line for the command list
  const char* usage;    // "zelvane build P.zvpj OUTFOLDER [--yes]" plus option lines
  const char* example;  // one example invocation
  int (*run)(const std::vector<std::string>& args);  // args after the name
};

class Registry {
 public:
  static Registry& Get();
  void Add(const CommandInfo& info) { commands_[info.name] = info; }
  const CommandInfo* Find(const std::string& name) const;
  const std::map<std::string, CommandInfo>& All() const { return commands_; }

 private:
  std::map<std::string, CommandInfo> commands_;
};

struct Registrar {
  explicit Registrar(const CommandInfo& info) { Registry::Get().Add(info); }
};

#define ZV_CAT2(a, b) a##b
#define ZV_CAT(a, b) ZV_CAT2(a, b)
#define ZV_COMMAND(...) static ::zvapp::Registrar ZV_CAT(zv_registrar_, __LINE__)(::zvapp::CommandInfo{__VA_ARGS__})

// Refuses options (words starting with "--", up to a lone "--") that are not
// in `allowed`: 0 when all are known, else the usage exit code after the
// usage text.
int CheckOptions(const CommandInfo& info, const std::vector<std::string>& argv, const std::set<std::string>& allowed);
// Prints "usage" and the help of a command to stderr; returns kExitUsage.
int UsageError(const CommandInfo& info, const std::string& problem);
// Refuses a value that was parsed but cannot be taken (a timecode out of
// range, an unknown code): the problem on stderr, kExitFailed, since the
// command line itself was understood.
int RefuseValue(const CommandInfo& info, const std::string& problem);
// Prints a failure message (the system's own text) to stderr; returns kExitFailed.
int Fail(const std::string& message);
// Prints the command's help to stdout.
void PrintHelp(const CommandInfo& info);

}  // namespace zvapp
