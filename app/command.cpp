#include "app/command.h"

#include <cstdio>

namespace zvapp {

bool Args::Parse(const std::vector<std::string>& argv, const std::set<std::string>& valued, std::string& error) {
  bool onlyPositionals = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (onlyPositionals || a.size() < 2 || a[0] != '-' || (a[1] != '-' && isdigit(static_cast<unsigned char>(a[1])))) {
      pos_.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyPositionals = true;
      continue;
    }
    size_t eq = a.find('=');
    std::string name = eq == std::string::npos ? a : a.substr(0, eq);
    if (valued.count(name)) {
      if (eq != std::string::npos) {
        values_.emplace(name, a.substr(eq + 1));
      } else if (i + 1 < argv.size()) {
        values_.emplace(name, argv[++i]);
      } else {
        error = "option " + name + " needs a value";
        return false;
      }
    } else if (eq != std::string::npos) {
      error = "option " + name + " takes no value";
      return false;
    } else {
      flags_.insert(name);
    }
  }
  return true;
}

std::vector<std::string> Args::Values(const std::string& opt) const {
  std::vector<std::string> out;
  auto range = values_.equal_range(opt);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  return out;
}

std::string Args::Value(const std::string& opt, const std::string& def) const {
  auto it = values_.find(opt);
  return it == values_.end() ? def : it->second;
}

Registry& Registry::Get() {
  static Registry r;
  return r;
}

const CommandInfo* Registry::Find(const std::string& name) const {
  auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : &it->second;
}

void PrintHelp(const CommandInfo& info) {
  std::printf("%s\n\nusage: %s\n\nexample:\n  %s\n", info.summary, info.usage, info.example);
}

int CheckOptions(const CommandInfo& info, const std::vector<std::string>& argv, const std::set<std::string>& allowed) {
  for (const std::string& a : argv) {
    if (a == "--") break;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      const std::string name = a.substr(0, a.find('='));
      if (!allowed.count(name)) return UsageError(info, "unknown option " + name);
    }
  }
  return 0;
}

int UsageError(const CommandInfo& info, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "zelvane %s: %s\n", info.name, problem.c_str());
  std::fprintf(stderr, "usage: %s\n", info.usage);
  return kExitUsage;
}

int RefuseValue(const CommandInfo& info, const std::string& problem) {
  std::fprintf(stderr, "zelvane %s: %s\n", info.name, problem.c_str());
  return kExitFailed;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return kExitFailed;
}

}  // namespace zvapp
