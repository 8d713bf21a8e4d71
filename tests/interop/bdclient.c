/*
 * zv_bdclient: opens a disc folder with libbluray, an independent reader, and
 * prints what a player sees, so interop tests can compare it with what we
 * meant to write.
 *
 *   zv_bdclient info [--json] DISC
 *   zv_bdclient play [--max-reads N] [--stop-on-repeat] [--press KEY]...
 *                    [--press-in PLAYLIST KEY]... [--pg N] [--overlay-dir DIR] [--settle MS] DISC
 *   zv_bdclient read [--playlist] DISC TITLE OUT.m2ts
 *
 * play logs every event as "event NAME PARAM" and, when a playlist has been
 * read to its end, "played PLAYLIST bytes N" with the bytes read since it
 * started. --pg N turns on subtitle stream N (1-based) when a playlist
 * starts; --overlay-dir writes every presentation-graphics picture drawn as
 * DIR/pgNNN.ycrcbt (Y, Cr, Cb, T per pixel, rows top to bottom) and logs it
 * as "overlay pg draw X Y W H pts P file pgNNN.ycrcbt"; clearing and
 * flushing are logged as "overlay pg clear|wipe|flush pts P".
 * With --overlay-dir the interactive-graphics plane is composed as a player
 * would (a draw replaces the pixels of its rectangle, a wipe or clear makes
 * them transparent) and every flush writes the whole plane as
 * DIR/igNNN.ycrcbt, logged as "overlay ig flush W H pts P file igNNN.ycrcbt";
 * "overlay ig hide" and "overlay ig close" say the menu went away.
 * Keys are pressed in the order given: a --press key once the player waits
 * for the user, a --press-in key while PLAYLIST (five digits) plays, after
 * kPressReads reads of it and as many since the key before; the title time
 * when a --press-in key is pressed follows as "time T" (45 kHz, the unit of
 * the SEEK event's parameter).
 * --settle MS lets the player run on while it waits for the user until MS
 * milliseconds pass without an IG flush, before pressing the next key or
 * ending, so that page effects (timed by the wall clock) play to the end.
 * --stop-on-repeat ends ("end repeat") when a title starts that
 * started before, or a title plays one of its playlists again, so a disc
 * whose titles chain in a loop stops after one cycle.
 *
 * Text output is one fact per line, words separated by single blanks, so
 * tests can grep for a whole line. Exit status: 0 success, 1 failure after the
 * disc was opened, 2 the disc cannot be opened, 64 usage error.
 */
#include <errno.h>
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <libbluray/bluray.h>
#include <libbluray/keys.h>
#include <libbluray/log_control.h>
#include <libbluray/overlay.h>

enum { kExitOk = 0, kExitFailed = 1, kExitNoDisc = 2, kExitUsage = 64 };

/* bd_read_ext works in aligned units of 32 source packets. */
enum { kUnit = 6144, kReadSize = kUnit * 10 };

/* Navigation that never ends (a menu waiting for input) must still stop. */
enum { kDefaultMaxReads = 200000, kIdleLimit = 2000, kResolveReads = 20000 };

/* Reads between keys pressed during playback. */
enum { kPressReads = 8 };

static void die_usage(void) {
  fputs("usage: zv_bdclient info [--json] DISC\n"
        "       zv_bdclient play [--max-reads N] [--stop-on-repeat] [--press KEY]...\n"
        "                        [--press-in PLAYLIST KEY]... [--pg N] [--overlay-dir DIR] [--settle MS] DISC\n"
        "       zv_bdclient read [--playlist] DISC TITLE OUT.m2ts\n"
        "       zv_bdclient sounds DISC OUTDIR\n"
        "KEY: up down left right enter menu popup 0-9\n",
        stderr);
  exit(kExitUsage);
}

static void fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fputs("zv_bdclient: ", stderr);
  vfprintf(stderr, fmt, ap);
  fputc('\n', stderr);
  va_end(ap);
}

/* libbluray logs its own errors to stderr; keep them unless the user asked
 * for something else through BD_DEBUG_MASK, but drop them for a plain "not a
 * disc" so the test sees one clear message. */
static BLURAY* open_disc(const char* path) {
  if (!getenv("BD_DEBUG_MASK")) bd_set_debug_mask(0);
  BLURAY* bd = bd_open(path, NULL);
  if (!bd) {
    fail("cannot open disc \"%s\"", path);
    return NULL;
  }
  const BLURAY_DISC_INFO* di = bd_get_disc_info(bd);
  if (!di || !di->bluray_detected) {
    fail("cannot open disc \"%s\": no BDMV/index.bdmv", path);
    bd_close(bd);
    return NULL;
  }
  return bd;
}

static const char* event_name(uint32_t ev) {
  static const char* const names[] = {
      "NONE", "ERROR", "READ_ERROR", "ENCRYPTED", "ANGLE", "TITLE", "PLAYLIST",
      "PLAYITEM", "CHAPTER", "PLAYMARK", "END_OF_TITLE", "AUDIO_STREAM",
      "IG_STREAM", "PG_TEXTST_STREAM", "PIP_PG_TEXTST_STREAM",
      "SECONDARY_AUDIO_STREAM", "SECONDARY_VIDEO_STREAM", "PG_TEXTST",
      "PIP_PG_TEXTST", "SECONDARY_AUDIO", "SECONDARY_VIDEO",
      "SECONDARY_VIDEO_SIZE", "PLAYLIST_STOP", "DISCONTINUITY", "SEEK", "STILL",
      "STILL_TIME", "SOUND_EFFECT", "IDLE", "POPUP", "MENU",
      "STEREOSCOPIC_STATUS", "KEY_INTEREST_TABLE", "UO_MASK_CHANGED"};
  if (ev < sizeof names / sizeof names[0]) return names[ev];
  return "UNKNOWN";
}

static const char* stream_kind_names[] = {"video", "audio", "pg", "ig",
                                          "secondary_audio", "secondary_video"};

/* The streams of one clip by kind, in the order of stream_kind_names. */
static void clip_streams(const BLURAY_CLIP_INFO* c, const BLURAY_STREAM_INFO* s[6],
                         unsigned n[6]) {
  s[0] = c->video_streams;     n[0] = c->video_stream_count;
  s[1] = c->audio_streams;     n[1] = c->audio_stream_count;
  s[2] = c->pg_streams;        n[2] = c->pg_stream_count;
  s[3] = c->ig_streams;        n[3] = c->ig_stream_count;
  s[4] = c->sec_audio_streams; n[4] = c->sec_audio_stream_count;
  s[5] = c->sec_video_streams; n[5] = c->sec_video_stream_count;
}

/* The language as printable text: "-" when empty, so text lines keep a
 * fixed number of words. */
static void lang_text(const BLURAY_STREAM_INFO* st, char out[4]) {
  size_t k = 0;
  for (; k < 3 && st->lang[k] >= 0x20 && st->lang[k] < 0x7F; ++k)
    out[k] = (char)st->lang[k];
  out[k] = 0;
  if (k == 0) strcpy(out, "-");
}

/* ------------------------------------------------------------ JSON output */

static void json_str(const char* s) {
  putchar('"');
  for (; s && *s; ++s) {
    unsigned char ch = (unsigned char)*s;
    if (ch == '"' || ch == '\\') printf("\\%c", ch);
    else if (ch < 0x20) printf("\\u%04x", ch);
    else putchar(ch);
  }
  putchar('"');
}

/* ------------------------------------------------- navigation event loop */

typedef struct {
  int overlays; /* IG/PG draw calls seen */
  int log_overlays;
  const char* dir; /* where PG pictures go, or NULL */
  int pictures;
  int write_failed;
  /* The interactive-graphics plane, Y Cr Cb T per pixel. */
  unsigned char* ig_plane;
  unsigned ig_w, ig_h;
  int ig_planes;
  int64_t last_flush_ms; /* wall clock of the last IG flush */
} OverlayLog;

static int64_t now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Expands a drawn picture (runs of palette indices, a run of length 0 ends
 * a line) into Y, Cr, Cb, T bytes per pixel. */
static int write_picture(const OverlayLog* log, const BD_OVERLAY* ov, const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", log->dir, name);
  size_t n = (size_t)ov->w * ov->h * 4;
  unsigned char* px = calloc(n ? n : 1, 1);
  if (!px) return 0;
  unsigned x = 0, y = 0;
  for (const BD_PG_RLE_ELEM* e = ov->img; e && y < ov->h; ++e) {
    if (e->len == 0) {
      x = 0;
      ++y;
      continue;
    }
    for (unsigned k = 0; k < e->len && x < ov->w; ++k, ++x) {
      const BD_PG_PALETTE_ENTRY* c = &ov->palette[e->color & 0xFF];
      unsigned char* p = px + ((size_t)y * ov->w + x) * 4;
      p[0] = c->Y;
      p[1] = c->Cr;
      p[2] = c->Cb;
      p[3] = c->T;
    }
  }
  FILE* f = fopen(path, "wb");
  int ok = f && fwrite(px, 1, n, f) == n;
  if (f && fclose(f) != 0) ok = 0;
  free(px);
  return ok;
}

static void ig_fill(OverlayLog* log, unsigned x0, unsigned y0, unsigned w, unsigned h) {
  if (!log->ig_plane) return;
  for (unsigned y = y0; y < y0 + h && y < log->ig_h; ++y)
    for (unsigned x = x0; x < x0 + w && x < log->ig_w; ++x)
      memset(log->ig_plane + ((size_t)y * log->ig_w + x) * 4, 0, 4);
}

static void ig_draw(OverlayLog* log, const BD_OVERLAY* ov) {
  if (!log->ig_plane || !ov->img || !ov->palette) return;
  unsigned x = 0, y = 0;
  for (const BD_PG_RLE_ELEM* e = ov->img; y < ov->h; ++e) {
    if (e->len == 0) {
      x = 0;
      ++y;
      continue;
    }
    for (unsigned k = 0; k < e->len && x < ov->w; ++k, ++x) {
      unsigned px = ov->x + x, py = ov->y + y;
      if (px >= log->ig_w || py >= log->ig_h) continue;
      const BD_PG_PALETTE_ENTRY* c = &ov->palette[e->color & 0xFF];
      unsigned char* p = log->ig_plane + ((size_t)py * log->ig_w + px) * 4;
      p[0] = c->Y;
      p[1] = c->Cr;
      p[2] = c->Cb;
      p[3] = c->T;
    }
  }
}

static void ig_flush(OverlayLog* log, int64_t pts) {
  if (!log->ig_plane) return;
  char name[64], path[4096];
  snprintf(name, sizeof name, "ig%03d.ycrcbt", log->ig_planes++);
  snprintf(path, sizeof path, "%s/%s", log->dir, name);
  size_t n = (size_t)log->ig_w * log->ig_h * 4;
  FILE* f = fopen(path, "wb");
  int ok = f && fwrite(log->ig_plane, 1, n, f) == n;
  if (f && fclose(f) != 0) ok = 0;
  if (!ok) log->write_failed = 1;
  log->last_flush_ms = now_ms();
  printf("overlay ig flush %u %u pts %" PRId64 " file %s\n", log->ig_w, log->ig_h, pts, name);
}

/* The interactive-graphics plane as a player composes it. */
static void ig_overlay(OverlayLog* log, const BD_OVERLAY* ov) {
  switch (ov->cmd) {
    case BD_OVERLAY_INIT:
      free(log->ig_plane);
      log->ig_w = ov->w;
      log->ig_h = ov->h;
      log->ig_plane = calloc((size_t)ov->w * ov->h * 4 + 1, 1);
      break;
    case BD_OVERLAY_CLEAR:
      ig_fill(log, 0, 0, log->ig_w, log->ig_h);
      break;
    case BD_OVERLAY_WIPE:
      ig_fill(log, ov->x, ov->y, ov->w, ov->h);
      break;
    case BD_OVERLAY_DRAW:
      printf("overlay ig draw %u %u %u %u\n", ov->x, ov->y, ov->w, ov->h);
      ig_draw(log, ov);
      break;
    case BD_OVERLAY_FLUSH:
      ig_flush(log, ov->pts);
      break;
    case BD_OVERLAY_HIDE:
      printf("overlay ig hide\n");
      break;
    case BD_OVERLAY_CLOSE:
      printf("overlay ig close\n");
      free(log->ig_plane);
      log->ig_plane = NULL;
      break;
    default:
      break;
  }
}

static void overlay_proc(void* handle, const BD_OVERLAY* const ov) {
  OverlayLog* log = (OverlayLog*)handle;
  if (!ov) return;
  if (log->dir && ov->plane == BD_OVERLAY_IG) {
    if (ov->cmd == BD_OVERLAY_DRAW) log->overlays++;
    ig_overlay(log, ov);
    return;
  }
  const char* plane = ov->plane == BD_OVERLAY_IG ? "ig" : "pg";
  if (ov->cmd != BD_OVERLAY_DRAW) {
    if (log->dir && ov->plane == BD_OVERLAY_PG &&
        (ov->cmd == BD_OVERLAY_CLEAR || ov->cmd == BD_OVERLAY_WIPE || ov->cmd == BD_OVERLAY_FLUSH))
      printf("overlay pg %s pts %" PRId64 "\n",
             ov->cmd == BD_OVERLAY_CLEAR ? "clear" : ov->cmd == BD_OVERLAY_WIPE ? "wipe" : "flush", ov->pts);
    return;
  }
  log->overlays++;
  if (log->dir && ov->plane == BD_OVERLAY_PG && ov->img && ov->palette) {
    char name[64];
    snprintf(name, sizeof name, "pg%03d.ycrcbt", log->pictures++);
    if (!write_picture(log, ov, name)) log->write_failed = 1;
    printf("overlay pg draw %u %u %u %u pts %" PRId64 " file %s\n", ov->x, ov->y, ov->w, ov->h, ov->pts, name);
  } else if (log->log_overlays) {
    printf("overlay %s draw %u %u %u %u\n", plane, ov->x, ov->y, ov->w, ov->h);
  }
}

/* Follows the navigation from the current state until the title `title` has
 * started and then played a playlist. Returns the playlist number, or -1 when
 * the title jumped elsewhere, failed or played nothing within the limit. */
static long wait_for_playlist(BLURAY* bd, uint32_t title, int title_started) {
  static unsigned char buf[kReadSize];
  int idle = 0;
  for (int i = 0; i < kResolveReads && idle < kIdleLimit; ++i) {
    BD_EVENT ev;
    int r = bd_read_ext(bd, buf, sizeof buf, &ev);
    if (r < 0) return -1;
    idle = (r == 0 && ev.event == BD_EVENT_NONE) ? idle + 1 : 0;
    while (ev.event != BD_EVENT_NONE) {
      switch (ev.event) {
        case BD_EVENT_TITLE:
          if (ev.param == title) title_started = 1;
          else if (title_started) return -1;
          break;
        case BD_EVENT_PLAYLIST:
          if (title_started) return (long)ev.param;
          break;
        case BD_EVENT_ERROR:
          return -1;
        case BD_EVENT_STILL_TIME:
          bd_read_skip_still(bd);
          break;
        default:
          break;
      }
      if (!bd_get_event(bd, &ev)) break;
    }
  }
  return -1;
}

/* The playlist a disc title plays first, found by running the disc's own
 * navigation: libbluray exposes an HDMV title only as its movie object. A
 * fresh session per title keeps titles from influencing each other. */
static long title_playlist(const char* path, uint32_t title) {
  BLURAY* bd = bd_open(path, NULL);
  if (!bd) return -1;
  long pl = -1;
  if (bd_play(bd)) {
    if (title == BLURAY_TITLE_FIRST_PLAY)
      pl = wait_for_playlist(bd, title, 0);
    else if (bd_play_title(bd, title))
      pl = wait_for_playlist(bd, title, 0);
  }
  bd_close(bd);
  return pl;
}

/* ------------------------------------------------------------------ info */

typedef struct {
  const char* label; /* "1".."N", "top_menu" or "first_play" */
  uint32_t number;   /* the number bd_play_title takes */
  const BLURAY_TITLE* t;
  long playlist;
} DiscTitle;

static int cmd_info(int argc, char** argv) {
  int json = 0;
  const char* path = NULL;
  for (int i = 0; i < argc; ++i) {
    if (!strcmp(argv[i], "--json")) json = 1;
    else if (argv[i][0] == '-' || path) die_usage();
    else path = argv[i];
  }
  if (!path) die_usage();
  BLURAY* bd = open_disc(path);
  if (!bd) return kExitNoDisc;
  const BLURAY_DISC_INFO* di = bd_get_disc_info(bd);

  /* Disc titles in index order: top menu, 1..N, first play. */
  uint32_t ntitles = di->num_titles;
  DiscTitle* dt = calloc(ntitles + 2, sizeof *dt);
  char(*labels)[12] = calloc(ntitles + 2, sizeof *labels);
  if (!dt || !labels) {
    fail("out of memory");
    return kExitFailed;
  }
  size_t ndt = 0;
  if (di->top_menu) dt[ndt++] = (DiscTitle){"top_menu", BLURAY_TITLE_TOP_MENU, di->top_menu, -1};
  for (uint32_t k = 1; k <= ntitles; ++k) {
    snprintf(labels[k], sizeof labels[k], "%" PRIu32, k);
    dt[ndt++] = (DiscTitle){labels[k], k, di->titles[k], -1};
  }
  if (di->first_play)
    dt[ndt++] = (DiscTitle){"first_play", BLURAY_TITLE_FIRST_PLAY, di->first_play, -1};
  for (size_t k = 0; k < ndt; ++k)
    if (dt[k].t && !dt[k].t->bdj) dt[k].playlist = title_playlist(path, dt[k].number);

  /* Every playlist of the disc, unfiltered, so a duplicate that a player
   * would hide is still listed. */
  uint32_t npl = bd_get_titles(bd, TITLES_ALL, 0);

  if (json) {
    printf("{\"bluray_detected\":%u,\"no_menu_support\":%u,\"bdj_detected\":%u,"
           "\"num_hdmv_titles\":%u,\"num_bdj_titles\":%u,\"num_unsupported_titles\":%u,"
           "\"first_play_supported\":%u,\"top_menu_supported\":%u,\"num_titles\":%u,",
           di->bluray_detected, di->no_menu_support, di->bdj_detected,
           di->num_hdmv_titles, di->num_bdj_titles, di->num_unsupported_titles,
           di->first_play_supported, di->top_menu_supported, di->num_titles);
    printf("\"disc_titles\":[");
    for (size_t k = 0; k < ndt; ++k) {
      const BLURAY_TITLE* t = dt[k].t;
      printf("%s{\"title\":", k ? "," : "");
      json_str(dt[k].label);
      if (t)
        printf(",\"bdj\":%u,\"id_ref\":%u,\"interactive\":%u,\"accessible\":%u,\"hidden\":%u",
               t->bdj, t->id_ref, t->interactive, t->accessible, t->hidden);
      if (dt[k].playlist >= 0) printf(",\"playlist\":%ld}", dt[k].playlist);
      else printf(",\"playlist\":null}");
    }
    printf("],\"title_filter\":\"TITLES_ALL\",\"titles\":[");
  } else {
    printf("disc bluray_detected %u\n", di->bluray_detected);
    printf("disc no_menu_support %u\n", di->no_menu_support);
    printf("disc bdj_detected %u\n", di->bdj_detected);
    printf("disc num_hdmv_titles %u\n", di->num_hdmv_titles);
    printf("disc num_bdj_titles %u\n", di->num_bdj_titles);
    printf("disc num_unsupported_titles %u\n", di->num_unsupported_titles);
    printf("disc first_play_supported %u\n", di->first_play_supported);
    printf("disc top_menu_supported %u\n", di->top_menu_supported);
    printf("disc num_titles %u\n", di->num_titles);
    for (size_t k = 0; k < ndt; ++k) {
      const BLURAY_TITLE* t = dt[k].t;
      if (!t) {
        printf("disc_title %s missing\n", dt[k].label);
        continue;
      }
      printf("disc_title %s %s %u interactive %u accessible %u hidden %u\n", dt[k].label,
             t->bdj ? "bdjo" : "movie_object", t->id_ref, t->interactive, t->accessible,
             t->hidden);
      if (dt[k].playlist >= 0) printf("disc_title %s playlist %05ld\n", dt[k].label, dt[k].playlist);
      else printf("disc_title %s playlist none\n", dt[k].label);
    }
    printf("titles TITLES_ALL count %u\n", npl);
  }

  int status = kExitOk;
  for (uint32_t i = 0; i < npl; ++i) {
    BLURAY_TITLE_INFO* ti = bd_get_title_info(bd, i, 0);
    if (!ti) {
      fail("title %u: no title information", i);
      status = kExitFailed;
      continue;
    }
    if (json) {
      printf("%s{\"title\":%u,\"playlist\":%u,\"duration\":%" PRIu64 ",\"angles\":%u,\"clips\":[",
             i ? "," : "", i, ti->playlist, ti->duration, ti->angle_count);
    } else {
      printf("title %u playlist %05u duration %" PRIu64 " clips %u chapters %u marks %u angles %u\n",
             i, ti->playlist, ti->duration, ti->clip_count, ti->chapter_count, ti->mark_count,
             ti->angle_count);
    }
    for (uint32_t c = 0; c < ti->clip_count; ++c) {
      const BLURAY_CLIP_INFO* clip = &ti->clips[c];
      if (json) {
        printf("%s{\"clip_id\":", c ? "," : "");
        json_str(clip->clip_id);
        printf(",\"in_time\":%" PRIu64 ",\"out_time\":%" PRIu64 ",\"start_time\":%" PRIu64
               ",\"pkt_count\":%u,\"still_mode\":%u,\"streams\":[",
               clip->in_time, clip->out_time, clip->start_time, clip->pkt_count,
               clip->still_mode);
      } else {
        printf("title %u clip %u id %s in_time %" PRIu64 " out_time %" PRIu64
               " start_time %" PRIu64 " packets %u still_mode %u\n",
               i, c, clip->clip_id, clip->in_time, clip->out_time, clip->start_time,
               clip->pkt_count, clip->still_mode);
      }
      const BLURAY_STREAM_INFO* s[6];
      unsigned n[6];
      clip_streams(clip, s, n);
      int first = 1;
      for (int kind = 0; kind < 6; ++kind) {
        for (unsigned k = 0; k < n[kind]; ++k) {
          const BLURAY_STREAM_INFO* st = &s[kind][k];
          char lang[4];
          lang_text(st, lang);
          if (json) {
            printf("%s{\"kind\":\"%s\",\"index\":%u,\"coding_type\":%u,\"pid\":%u,"
                   "\"format\":%u,\"rate\":%u,\"aspect\":%u,\"subpath_id\":%u,\"lang\":",
                   first ? "" : ",", stream_kind_names[kind], k, st->coding_type, st->pid,
                   st->format, st->rate, st->aspect, st->subpath_id);
            json_str(lang[0] == '-' ? "" : lang);
            putchar('}');
          } else {
            printf("title %u clip %u stream %s %u coding 0x%02x pid 0x%04x format %u rate %u"
                   " aspect %u subpath %u lang %s\n",
                   i, c, stream_kind_names[kind], k, st->coding_type, st->pid, st->format,
                   st->rate, st->aspect, st->subpath_id, lang);
          }
          first = 0;
        }
      }
      if (json) printf("]}");
    }
    if (json) printf("],\"chapters\":[");
    for (uint32_t k = 0; k < ti->chapter_count; ++k) {
      const BLURAY_TITLE_CHAPTER* ch = &ti->chapters[k];
      if (json)
        printf("%s{\"start\":%" PRIu64 ",\"duration\":%" PRIu64 ",\"offset\":%" PRIu64
               ",\"clip_ref\":%u}",
               k ? "," : "", ch->start, ch->duration, ch->offset, ch->clip_ref);
      else
        printf("title %u chapter %u start %" PRIu64 " duration %" PRIu64 " clip %u\n", i,
               k + 1, ch->start, ch->duration, ch->clip_ref);
    }
    if (json) printf("]}");
    bd_free_title_info(ti);
  }
  if (json) printf("]}\n");
  free(labels);
  free(dt);
  bd_close(bd);
  if (fflush(stdout) != 0) {
    fail("cannot write output: %s", strerror(errno));
    return kExitFailed;
  }
  return status;
}

/* ------------------------------------------------------------------ play */

static int parse_key(const char* s, uint32_t* key) {
  static const struct { const char* name; uint32_t key; } keys[] = {
      {"up", BD_VK_UP},       {"down", BD_VK_DOWN},   {"left", BD_VK_LEFT},
      {"right", BD_VK_RIGHT}, {"enter", BD_VK_ENTER}, {"menu", BD_VK_ROOT_MENU},
      {"popup", BD_VK_POPUP}};
  for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i)
    if (!strcmp(s, keys[i].name)) {
      *key = keys[i].key;
      return 1;
    }
  if (s[0] >= '0' && s[0] <= '9' && s[1] == 0) {
    *key = BD_VK_0 + (uint32_t)(s[0] - '0');
    return 1;
  }
  return 0;
}

static int cmd_play(int argc, char** argv) {
  const char* path = NULL;
  long max_reads = kDefaultMaxReads;
  int stop_on_repeat = 0;
  uint32_t keys[64];
  const char* key_names[64];
  long key_playlist[64]; /* -1: press when the player waits */
  int nkeys = 0;
  long pg = 0;
  const char* overlay_dir = NULL;
  long settle_ms = 0;
  for (int i = 0; i < argc; ++i) {
    if (!strcmp(argv[i], "--pg") && i + 1 < argc) {
      char* end;
      pg = strtol(argv[++i], &end, 10);
      if (*end || pg <= 0) die_usage();
    } else if (!strcmp(argv[i], "--overlay-dir") && i + 1 < argc) {
      overlay_dir = argv[++i];
    } else if (!strcmp(argv[i], "--max-reads") && i + 1 < argc) {
      char* end;
      max_reads = strtol(argv[++i], &end, 10);
      if (*end || max_reads <= 0) die_usage();
    } else if (!strcmp(argv[i], "--settle") && i + 1 < argc) {
      char* end;
      settle_ms = strtol(argv[++i], &end, 10);
      if (*end || settle_ms < 0) die_usage();
    } else if (!strcmp(argv[i], "--stop-on-repeat")) {
      stop_on_repeat = 1;
    } else if (!strcmp(argv[i], "--press") && i + 1 < argc) {
      if (nkeys == 64 || !parse_key(argv[i + 1], &keys[nkeys])) die_usage();
      key_playlist[nkeys] = -1;
      key_names[nkeys++] = argv[++i];
    } else if (!strcmp(argv[i], "--press-in") && i + 2 < argc) {
      char* end;
      key_playlist[nkeys] = strtol(argv[i + 1], &end, 10);
      if (*end || key_playlist[nkeys] < 0 || nkeys == 64 || !parse_key(argv[i + 2], &keys[nkeys])) die_usage();
      key_names[nkeys++] = argv[i + 2];
      i += 2;
    } else if (argv[i][0] == '-' || path) {
      die_usage();
    } else {
      path = argv[i];
    }
  }
  if (!path) die_usage();
  BLURAY* bd = open_disc(path);
  if (!bd) return kExitNoDisc;

  OverlayLog olog = {0, 1, overlay_dir, 0, 0, NULL, 0, 0, 0, now_ms()};
  bd_register_overlay_proc(bd, &olog, overlay_proc);
  /* libbluray decodes subtitles only when asked to. */
  if (pg) bd_set_player_setting(bd, BLURAY_PLAYER_SETTING_DECODE_PG, 1);
  if (!bd_play(bd)) {
    fail("bd_play failed");
    bd_close(bd);
    return kExitFailed;
  }

  static unsigned char buf[kReadSize];
  uint64_t bytes = 0, playlist_bytes = 0;
  int status = kExitOk, idle = 0, next_key = 0;
  long playlist_reads = 0, since_key = 0;
  /* Titles started so far (a set of 16-bit title numbers), the playlists
   * the current title has played, and the playlist being read (-1 once its
   * end was logged). */
  static unsigned char started[0x10000];
  static unsigned char played[100000];
  long playlist = -1;
  uint32_t current_title = 0x10000;
  /* A player with nothing left to do repeats END_OF_TITLE or IDLE on every
   * read: such repeats are logged once and count as waiting. */
  BD_EVENT last = {BD_EVENT_NONE, 0};
  const char* end = "limit";
  for (long i = 0; i < max_reads; ++i) {
    BD_EVENT ev;
    int r = bd_read_ext(bd, buf, sizeof buf, &ev);
    if (r < 0) {
      printf("read_error\n");
      status = kExitFailed;
      end = "error";
      break;
    }
    bytes += (uint64_t)r;
    int stop = 0;
    int quiet = (r == 0);
    if (r > 0) last.event = BD_EVENT_NONE;
    while (ev.event != BD_EVENT_NONE) {
      /* An infinite still (a menu over a held picture) waits for the user
       * like an idle player. */
      int still = ev.event == BD_EVENT_STILL_TIME && ev.param == 0;
      int waiting = ev.event == BD_EVENT_IDLE || ev.event == BD_EVENT_END_OF_TITLE || still;
      if (!(waiting && ev.event == last.event && ev.param == last.param)) {
        if (ev.event == BD_EVENT_PLAYLIST) printf("event PLAYLIST %05u\n", ev.param);
        else printf("event %s %u\n", event_name(ev.event), ev.param);
        if (ev.event != BD_EVENT_IDLE && !still) quiet = 0;
        last = ev;
      }
      if (ev.event == BD_EVENT_ERROR) {
        status = kExitFailed;
        end = "error";
        stop = 1;
      } else if (ev.event == BD_EVENT_PLAYLIST) {
        if (ev.param < sizeof played) {
          if (played[ev.param] && stop_on_repeat) {
            end = "repeat";
            stop = 1;
            break; /* the title loops over its own playlists */
          }
          played[ev.param] = 1;
        }
        /* The event comes with the read that opened the playlist: that
         * read's data is the playlist's first (counted below). */
        playlist = (long)ev.param;
        playlist_bytes = 0;
        playlist_reads = 0;
        if (pg) bd_select_stream(bd, BLURAY_PG_TEXTST_STREAM, (uint32_t)pg, 1);
      } else if (ev.event == BD_EVENT_END_OF_TITLE && playlist >= 0) {
        printf("played %05ld bytes %" PRIu64 "\n", playlist, playlist_bytes);
        playlist = -1;
      } else if (ev.event == BD_EVENT_TITLE) {
        uint32_t t = ev.param & 0xFFFF;
        if (ev.param != current_title && started[t] && stop_on_repeat) {
          end = "repeat";
          stop = 1;
          break; /* the cycle is complete: nothing after it is logged */
        }
        if (ev.param != current_title) memset(played, 0, sizeof played);
        started[t] = 1;
        current_title = ev.param;
      } else if (ev.event == BD_EVENT_STILL_TIME && ev.param > 0) {
        bd_read_skip_still(bd); /* no need to sit out the still in a test */
      }
      if (!bd_get_event(bd, &ev)) break;
    }
    playlist_bytes += (uint64_t)r;
    if (stop) break;
    ++playlist_reads;
    ++since_key;
    if (next_key < nkeys && key_playlist[next_key] >= 0 && key_playlist[next_key] == playlist &&
        playlist_reads >= kPressReads && since_key >= kPressReads) {
      printf("press %s\n", key_names[next_key]);
      printf("time %" PRIu64 "\n", bd_tell_time(bd) / 2);
      bd_user_input(bd, -1, keys[next_key++]);
      since_key = 0;
      continue;
    }
    if (!quiet) {
      idle = 0;
      continue;
    }
    /* Waiting for the user: press the next scripted key, or give up once
     * the player has stayed idle long enough. */
    if (settle_ms > 0 && now_ms() - olog.last_flush_ms < settle_ms) {
      usleep(5000);
      continue;
    }
    if (next_key < nkeys && key_playlist[next_key] < 0) {
      printf("press %s\n", key_names[next_key]);
      bd_user_input(bd, -1, keys[next_key++]);
      since_key = 0;
      idle = 0;
      last.event = BD_EVENT_NONE;
    } else if (++idle >= kIdleLimit) {
      end = "idle";
      break;
    }
  }
  printf("overlays %d\n", olog.overlays);
  if (olog.write_failed) {
    fail("cannot write the overlay pictures to %s", overlay_dir);
    status = kExitFailed;
  }
  printf("bytes %" PRIu64 "\n", bytes);
  printf("end %s\n", end);
  bd_close(bd); /* closes the overlay planes too */
  free(olog.ig_plane);
  if (fflush(stdout) != 0) {
    fail("cannot write output: %s", strerror(errno));
    return kExitFailed;
  }
  return status;
}

/* ------------------------------------------------------------------ read */

static int cmd_read(int argc, char** argv) {
  int by_playlist = 0;
  const char* args[3];
  int nargs = 0;
  for (int i = 0; i < argc; ++i) {
    if (!strcmp(argv[i], "--playlist")) by_playlist = 1;
    else if (argv[i][0] == '-' || nargs == 3) die_usage();
    else args[nargs++] = argv[i];
  }
  if (nargs != 3) die_usage();
  char* endp;
  unsigned long number = strtoul(args[1], &endp, 10);
  if (*endp || args[1][0] == 0 || number > 99999) die_usage();
  const char* out_path = args[2];

  BLURAY* bd = open_disc(args[0]);
  if (!bd) return kExitNoDisc;
  int ok;
  if (by_playlist) {
    ok = bd_select_playlist(bd, (uint32_t)number);
  } else {
    uint32_t n = bd_get_titles(bd, TITLES_ALL, 0);
    ok = number < n && bd_select_title(bd, (uint32_t)number);
  }
  if (!ok) {
    fail("%s %lu cannot be selected", by_playlist ? "playlist" : "title", number);
    bd_close(bd);
    return kExitFailed;
  }

  /* Write beside the target and rename at the end, so a failed read leaves
   * no partial file under the requested name. */
  size_t len = strlen(out_path);
  char* tmp = malloc(len + 8);
  if (!tmp) {
    bd_close(bd);
    return kExitFailed;
  }
  snprintf(tmp, len + 8, "%s.tmp~", out_path);
  FILE* f = fopen(tmp, "wb");
  if (!f) {
    fail("Cannot create \"%s\": %s", tmp, strerror(errno));
    free(tmp);
    bd_close(bd);
    return kExitFailed;
  }
  static unsigned char buf[kReadSize];
  uint64_t bytes = 0;
  int status = kExitOk;
  for (;;) {
    int r = bd_read(bd, buf, sizeof buf);
    if (r == 0) break;
    if (r < 0) {
      fail("read error after %" PRIu64 " bytes", bytes);
      status = kExitFailed;
      break;
    }
    if (fwrite(buf, 1, (size_t)r, f) != (size_t)r) {
      fail("Cannot write \"%s\": %s", tmp, strerror(errno));
      status = kExitFailed;
      break;
    }
    bytes += (uint64_t)r;
  }
  if (fclose(f) != 0 && status == kExitOk) {
    fail("Cannot write \"%s\": %s", tmp, strerror(errno));
    status = kExitFailed;
  }
  if (status == kExitOk && rename(tmp, out_path) != 0) {
    fail("Cannot create \"%s\": %s", out_path, strerror(errno));
    status = kExitFailed;
  }
  if (status != kExitOk) unlink(tmp);
  else printf("read bytes %" PRIu64 " packets %" PRIu64 "\n", bytes, bytes / 192);
  free(tmp);
  bd_close(bd);
  return status;
}

/* ---------------------------------------------------------------- sounds */

/* Every button sound libbluray reads from the disc: its channels and frames
 * on stdout, its samples as 16-bit big-endian into OUTDIR/ID.s16be. */
static int cmd_sounds(int argc, char** argv) {
  if (argc != 2) die_usage();
  BLURAY* bd = open_disc(argv[0]);
  if (!bd) return kExitNoDisc;
  int status = kExitOk;
  unsigned id = 0;
  for (; id < 256 && status == kExitOk; ++id) {
    BLURAY_SOUND_EFFECT e;
    if (bd_get_sound_effect(bd, id, &e) <= 0) break;
    printf("sound %u channels %u frames %u\n", id, (unsigned)e.num_channels, (unsigned)e.num_frames);
    char name[4096];
    snprintf(name, sizeof name, "%s/%u.s16be", argv[1], id);
    FILE* f = fopen(name, "wb");
    if (!f) {
      fail("Cannot create \"%s\": %s", name, strerror(errno));
      status = kExitFailed;
      break;
    }
    const size_t n = (size_t)e.num_frames * e.num_channels;
    for (size_t i = 0; i < n; ++i) {
      const uint16_t v = (uint16_t)e.samples[i];
      fputc(v >> 8, f);
      fputc(v & 0xFF, f);
    }
    if (fclose(f) != 0) {
      fail("Cannot write \"%s\": %s", name, strerror(errno));
      status = kExitFailed;
    }
  }
  printf("sounds %u\n", id);
  bd_close(bd);
  return status;
}

int main(int argc, char** argv) {
  if (argc < 2) die_usage();
  if (!strcmp(argv[1], "info")) return cmd_info(argc - 2, argv + 2);
  if (!strcmp(argv[1], "play")) return cmd_play(argc - 2, argv + 2);
  if (!strcmp(argv[1], "read")) return cmd_read(argc - 2, argv + 2);
  if (!strcmp(argv[1], "sounds")) return cmd_sounds(argc - 2, argv + 2);
  die_usage();
  return kExitUsage;
}
