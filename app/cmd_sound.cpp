// `zelvane sound build|set`: the button-sound file made from WAV files, and
// the project's choice of it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "bdnav/sound_bdmv.h"
#include "edit/sound_build.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvapp {

namespace {

int RunSoundBuild(const std::vector<std::string>& argv);
int RunSoundSet(const std::vector<std::string>& argv);

ZV_COMMAND("sound build", "make a button-sound file from WAV files",
           "zelvane sound build OUT.bdmv WAV... [--yes]\n"
           "  WAV    48 kHz, 16-bit, mono or stereo PCM files under 2 MiB, at most 128; a sound's id is its\n"
           "         position in the list (from 0), which buttons use\n"
           "  --yes  replace an existing OUT.bdmv without asking\n"
           "The file is written whole or not at all, and must stay under 2 MiB.\n"
           "exit status: 0 built, 1 not replaced, 2 a WAV or the file was refused (nothing written), 64 usage error",
           "zelvane sound build Sound.bdmv select.wav activate.wav", RunSoundBuild);
ZV_COMMAND("sound set", "choose the project's button-sound file, or none",
           "zelvane sound set P.zvpj FILE|none\n"
           "  FILE   a sound file made by \"zelvane sound build\"; it is copied into the disc as AUXDATA/sound.bdmv\n"
           "exit status: 0 set, 2 the file was refused (the project is unchanged), 64 usage error",
           "zelvane sound set disc.zvpj Sound.bdmv", RunSoundSet);

int Failed(const CommandInfo& self, const std::string& message) {
  std::fprintf(stderr, "zelvane %s: %s\n", self.name, message.c_str());
  return kExitFailed;
}

int RunSoundBuild(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("sound build");
  if (int rc = CheckOptions(self, argv, {"--yes"})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() < 2) return UsageError(self, "expected OUT.bdmv and at least one WAV file");
  const std::string& out = args[0];

  // Notes come under the command's name; the question is the terminal's.
  struct NamedPrompt : TerminalPrompt {
    using TerminalPrompt::TerminalPrompt;
    void Message(const std::string& text) override { std::fprintf(stderr, "zelvane sound build: %s\n", text.c_str()); }
  } prompt(args.Has("--yes"));
  const std::vector<std::string> wavs(args.Pos().begin() + 1, args.Pos().end());
  std::vector<zvedit::SBuiltSound> built;
  std::string error;
  const int rc = zvedit::BuildSoundFile(out, wavs, prompt, built, error);
  if (rc == zv::kCancelled) {
    std::fprintf(stderr, "zelvane sound build: \"%s\" was left as it was\n", out.c_str());
    return kExitCancelled;
  }
  if (rc != zv::kOk) return Failed(self, error);
  for (size_t i = 0; i < built.size(); ++i) {
    const unsigned frames = built[i].frames;
    std::printf("%zu\t%s\t%s\t%u samples (%.3f s)\n", i, built[i].path.c_str(), built[i].mono ? "mono" : "stereo",
                frames, frames / 48000.0);
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", out.c_str(), zv::kMsgSoundBuildOk);
  return kExitOk;
}

int RunSoundSet(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("sound set");
  if (int rc = CheckOptions(self, argv, {})) return rc;
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() != 2) return UsageError(self, "expected P.zvpj and FILE (or none)");

  TerminalPrompt prompt(false);
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!LockProject(self.name, args[0], lock)) return kExitFailed;
  std::string message;
  if (zv::ReadProjectFile(args[0], project, message) != zv::kOk)
    return Failed(self, "cannot load \"" + args[0] + "\": " + message);
  // The sound file is replaced anyway: one that cannot be read any more must
  // not keep the user from replacing it. Every other source must reopen.
  project.m_strSoundPath.clear();
  if (project.ReloadSources(zv::Progress{}, prompt))
    return Failed(self, "\"" + args[0] + "\" was left as it was: what it refers to could not all be opened again (see above)");
  std::string path;
  if (!zv::EqualsNoCase(args[1], "none")) {
    std::error_code ec;
    path = std::filesystem::absolute(args[1], ec).lexically_normal().generic_string();
  }
  // The loader shows why a file is refused.
  if (!project.LoadSoundFile(path, prompt)) return Failed(self, "\"" + args[0] + "\" was left as it was");

  // Ids of buttons that the new file does not have: allowed (the sound
  // file may be replaced again), but said.
  size_t dangling = 0;
  for (zv::CFilmObject* film : project.Films())
    for (size_t m = 0; m < film->m_menus.GetCount(); ++m) {
      zv::CZvIgObject* menu = film->m_menus.GetAt(m);
      for (size_t e = 0; e < menu->GetCount(); ++e)
        for (size_t d = 0; d < menu->GetAt(e)->GetCount(); ++d)
          for (size_t p = 0; p < menu->GetAt(e)->GetAt(d)->GetCount(); ++p)
            for (zv::CBdButton* b : menu->GetAt(e)->GetAt(d)->GetAt(p)->Buttons())
              for (const auto& st : b->m_states)
                if (st.m_nSoundId != 0xFF && st.m_nSoundId >= project.SoundCount()) ++dangling;
    }
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(self, message);
  if (path.empty())
    std::printf("sound file: none\n");
  else
    std::printf("sound file: %s (%zu sounds)\n", path.c_str(), project.SoundCount());
  if (dangling > 0)
    std::fprintf(stderr, "zelvane sound set: %zu button states use sound ids the sound file does not have\n",
                 dangling);
  return kExitOk;
}

}  // namespace


}  // namespace zvapp
