// `zelvane set P.zvpj OBJECT KEY=VALUE...`: the property grid of the shell.
// Pairs are applied in order to the loaded project; the project is saved
// only when every pair applied, so a refused value leaves the file as it was.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/project_load.h"
#include "app/terminal.h"
#include "app/terminal_source_display.h"
#include "edit/properties.h"
#include "edit/track_encode.h"
#include "model/project.h"

namespace zvapp {

namespace {

int RunSet(const std::vector<std::string>& argv);

ZV_COMMAND("set", "change the settings (and names) of films, clips, tracks, menus and their pages, BOGs and buttons, titles and play items",
           "zelvane set P.zvpj OBJECT KEY=VALUE...\n"
           "  a film, a clip or a title:  name=NEW  (unique among its neighbours, no '/')\n"
           "  a track, e.g. \"Movie#1/Clip#1/Track#2\" (numbered as \"zelvane show\" lists them):\n"
           "    enabled=yes|no  primary=yes|no  language=CODE (ISO 639-2, e.g. fra)  delay=TICKS (90 kHz)\n"
           "  a video track read from a stream file also (encoded at once, with progress; Ctrl-C leaves all as it was):\n"
           "    encode=yes|no (yes: encoded to disc H.264, kept beside its source; no: back to the source, when the\n"
           "    disc takes it)  encode-format=auto|FORMAT (as \"zelvane source add --format\"; sets encode=yes)\n"
           "    the clip's audio is slowed or brought back with its video (30 and 60 fps play at 29.97 and 59.94)\n"
           "  a track drawn from text subtitles (SRT, WebVTT, ASS) also, drawn again at the next build:\n"
           "    font=FAMILY size=PERCENT colour=NAME|#RRGGBB outline=PX shadow=PX bottom-margin=PERCENT\n"
           "    position=top|bottom forced=yes|no (an empty style value goes back to the file's or default style)\n"
           "  a menu, e.g. \"Movie#1/IG#1\":\n"
           "    name=NEW  popup=yes|no  timeout=SECONDS (0..186, pop-up menus only)  stream-model=own-clip  language=CODE\n"
           "    selected-sound|activated-sound=N|none (every button's; N a sound of the project's sound file)\n"
           "  a menu page, e.g. \"Movie#1/IG#1/Epoch#1/DisplaySet#1/Page#1\":\n"
           "    name=NEW  default-selected=BUTTON|none  default-activated=BUTTON|current|none  palette=NAME|none\n"
           "    neighbours=spatial|sequential (sets every button's up/down/left/right from the BOGs' defaults)\n"
           "    in-effect|out-effect=none|fade,GRAPHIC,X,Y,MS[,STEPS]|slide,left|right|top|bottom,GRAPHIC,X,Y,MS[,STEPS]\n"
           "      (GRAPHIC fades or slides in when the page opens, out when it closes; STEPS 1..64, default 8)\n"
           "    animation-frame-rate=0..255 (an animated button shows its next picture every N video frames)\n"
           "  a BOG, e.g. \".../Page#1/Bog#1\":  name=NEW  default=BUTTON|none\n"
           "  a button, e.g. \".../Page#1/Bog#1/Button#1\" (BUTTON values name buttons of the same page):\n"
           "    name=NEW  x=N  y=N  up|down|left|right=BUTTON|none  auto-action=yes|no  numeric=0..9999|none\n"
           "    type=NAME for every button of the BOG (a new type clears their commands and choices):\n"
           "      \"Image Only\" (own commands), TopMenu, \"Call TopMenu\", Title, \"Call Title\", Chapter, Page,\n"
           "      Audio, Subtitle, Trailer, \"Call Trailer\", Resume, TerminatePL, PopUpMenuOff (or a type code)\n"
           "    the type's choices by name, for every button of the BOG (none clears one):\n"
           "      Title, Call Title: movie-group=FILM movie=TITLE   Chapter: the same and chapter=NAME\n"
           "      Page: page=PAGE   Audio: audio=TRACK   Subtitle: subtitle=TRACK   Trailer: trailer=TITLE/PI#n\n"
           "    commands=\"CMD; CMD...\"|none (a typed button gets its commands when the menu is built)\n"
           "    normal|selected|activated=GRAPHIC[,END GRAPHIC]|none  selected-sound|activated-sound=N|none\n"
           "    normal-repeat|selected-repeat|activated-repeat=yes|no\n"
           "  a title, e.g. \"Movie#1/Title#1\":\n"
           "    mode=PlayAll|Separate|\"Separate and PlayAll\"  connection=1|5  title=yes|no\n"
           "    menu=IG#n|none  playback=Sequential|Random|Shuffle  playback-count=N (0..65535)\n"
           "    random-access=yes|no  audio-mix=yes|no  lossless-bypass=yes|no  uo.OPERATION=1|0\n"
           "  a play item, e.g. \"Movie#1/Title#1/PI#1\":\n"
           "    still=No|Finite|Infinite  still-time=SECONDS (0..65535)  angles=1..9  random-access=yes|no\n"
           "    track=N:on|off (whether the play item offers its clip's track N)  uo.OPERATION=1|0\n"
           "  uo.OPERATION=1 prohibits a user operation, e.g. uo.ChapterSearch=1; OPERATION is one of:\n"
           "    ChapterSearch TimeSearch SkipToNextPoint SkipBackToPreviousPoint Stop PauseOn StillOff\n"
           "    ForwardPlay BackwardPlay Resume MoveUpSelectedButton MoveDownSelectedButton\n"
           "    MoveLeftSelectedButton MoveRightSelectedButton SelectButton ActivateButton\n"
           "    SelectButtonAndActivate PrimaryAudioStreamNumberChange AngleNumberChange PopupOn PopupOff\n"
           "    PG_TextST_EnableDisable PG_TextST_StreamNumberChange SecondaryVideoEnableDisable\n"
           "    SecondaryVideoStreamNumberChange SecondaryAudioEnableDisable SecondaryAudioStreamNumberChange\n"
           "    PiP_PG_TextST_StreamNumberChange\n"
           "  (a title with a menu of its own always allows PopupOn and PopupOff)\n"
           "exit status: 0 set, 1 cancelled, 2 a value was refused (the project is unchanged), 64 usage error",
           "zelvane set disc.zvpj Movie#1/Clip#1/Track#3 language=fra", RunSet);

int Failed(const std::string& message) {
  std::fprintf(stderr, "zelvane set: %s\n", message.c_str());
  return kExitFailed;
}

int RunSet(const std::vector<std::string>& argv) {
  const CommandInfo& self = *Registry::Get().Find("set");
  for (const auto& a : argv) {
    if (a == "--") break;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) return UsageError(self, "unknown option " + a.substr(0, a.find('=')));
  }
  Args args;
  std::string err;
  if (!args.Parse(argv, {}, err)) return UsageError(self, err);
  if (args.Count() < 3) return UsageError(self, "expected P.zvpj, OBJECT and at least one KEY=VALUE");
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 2; i < args.Count(); ++i) {
    const size_t eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) return UsageError(self, "\"" + args[i] + "\" is not KEY=VALUE");
    pairs.emplace_back(args[i].substr(0, eq), args[i].substr(eq + 1));
  }

  TerminalPrompt prompt(false);
  zv::CFileLock lock;
  zv::CZvObject project;
  if (!LoadProjectFor("set", args[0], project, prompt, true, &lock)) return kExitFailed;

  std::string error;
  zvedit::Target target;
  if (!zvedit::FindTarget(project, args[1], target, error)) return Failed(error);
  if (!zvedit::HasSettings(target))
    return Failed("\"" + args[1] +
                  "\" has no settings (films, clips, tracks, menus, pages, BOGs, buttons, titles and play items have)");
  for (const auto& [key, value] : pairs)
    if (!zvedit::ApplyProperty(project, target, key, value, error)) return Failed("\"" + args[1] + "\": " + error);
  zvedit::FinishChange(target);
  // An encode asked of a track is done now, with progress, not unseen in a build.
  if (target.story && !target.story->m_encodeAsks.empty()) {
    const std::string clip = args[1].substr(0, args[1].rfind('/'));
    ProgressDisplay display(prompt, false, "Really want to stop the encode? ");
    TerminalSourceDisplay shown(self, display);
    const int rc = zvedit::RunTrackEncodes(*target.story, clip, shown);
    display.Finish();
    if (rc == zv::kCancelled) return kExitCancelled;
    if (rc != zv::kOk) return kExitFailed;
  }
  std::string message;
  if (zv::SaveProjectFile(args[0], project, message) != zv::kOk) return Failed(message);
  return kExitOk;
}

}  // namespace

}  // namespace zvapp
