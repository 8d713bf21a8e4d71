#!/usr/bin/env bash
# Makes the layered-document fixtures of the PSD reader and menu import
# tests with programs that are not ours, and what an independent reader
# sees in them:
#   - menu designs with nested groups, written by GIMP in batch mode
#     (script-fu, file-psd-save);
#   - single-layer documents in the other colour modes and depths, written
#     by ImageMagick; the modes and depths ImageMagick cannot write (Lab,
#     multichannel, duotone, 32-bit) are derived from them with psd-tools'
#     writer;
#   - designs broken on purpose (an empty state layer), edited with
#     psd-tools;
#   - for the full-size top menu design menu_disc.psd, the planes a player
#     should show (menu_disc-PAGE-BUTTON.png: one page, one button
#     selected), composited by psd-tools from the design's own layers;
#   - for every fixture NAME.psd a file NAME.psd.expect holding what
#     psd-tools (Debian's python3-psd-tools, for /usr/bin/python3) reads:
#     header, each layer's name, rectangle, section type and, per channel,
#     the sample count and CRC-32 of its samples scaled to 8 bits.
# GIMP and psd-tools are needed only here and are installed with apt-get
# when missing; nothing is downloaded otherwise.
#
#   tests/data/make-psd-fixtures.sh [OUTFOLDER]   (default: tests/data/psd)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="$(mkdir -p "${1:-$here/psd}" && cd "${1:-$here/psd}" && pwd)"
PY=/usr/bin/python3

need=()
command -v gimp-console-2.10 >/dev/null || command -v gimp >/dev/null || need+=(gimp)
"$PY" -c 'import psd_tools' 2>/dev/null || need+=(python3-psd-tools)
if ((${#need[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi
command -v convert >/dev/null || { echo "make-psd-fixtures: convert not found (run scripts/install-deps)" >&2; exit 2; }
GIMP=$(command -v gimp-console-2.10 || command -v gimp)

# --- Layered designs (GIMP) -------------------------------------------------
# Children are inserted below their earlier siblings, so each group reads
# top to bottom in the order written here.
scm="$(mktemp)"
trap 'rm -f "$scm"' EXIT
cat >"$scm" <<EOF
(define out "$out")
EOF
cat >>"$scm" <<'EOF'
(define (group img parent pos name)
  (let ((g (car (gimp-layer-group-new img))))
    (gimp-item-set-name g name)
    (gimp-image-insert-layer img g parent pos)
    g))

; A state picture: an ellipse of colour on transparency, a flat rectangle,
; or a linear gradient (well over 255 colours).
(define (picture img parent pos name x y w h shape fg bg)
  (let ((l (car (gimp-layer-new img w h RGBA-IMAGE name 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img l parent pos)
    (gimp-layer-set-offsets l x y)
    (gimp-drawable-fill l FILL-TRANSPARENT)
    (gimp-context-set-foreground fg)
    (gimp-context-set-background bg)
    (cond ((eq? shape 'ellipse)
           (gimp-image-select-ellipse img CHANNEL-OP-REPLACE x y w h)
           (gimp-drawable-edit-fill l FILL-FOREGROUND)
           (gimp-selection-none img))
          ((eq? shape 'gradient)
           (gimp-context-set-gradient-fg-bg-rgb)
           (gimp-drawable-edit-gradient-fill l GRADIENT-LINEAR 0 FALSE 1 0 FALSE 0 0 w h))
          (else (gimp-drawable-edit-fill l FILL-FOREGROUND)))
    l))

(define (background img w h)
  (let ((l (car (gimp-layer-new img w h RGB-IMAGE "Background" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img l 0 0)
    (gimp-context-set-foreground '(16 32 64))
    (gimp-drawable-fill l FILL-FOREGROUND)
    l))

(define (save img name compression)
  (let ((d (car (gimp-image-get-active-drawable img))))
    (file-psd-save RUN-NONINTERACTIVE img d (string-append out "/" name) name compression 0)
    (gimp-image-delete img)))

; Two pages; buttons in three states, state pictures of different sizes,
; an animated selected state, names in every accepted spelling, and a
; plain "B" layer that is no keyword.
(let* ((img (car (gimp-image-new 320 180 RGB)))
       (bg (background img 320 180))
       (ig (group img 0 0 "IG:Menu"))
       (ds (group img ig 0 "DS:Main"))
       (home (group img ds 0 "P:Home"))
       (g1 (group img home 0 "BOG:PlayGroup"))
       (play (group img g1 0 "B:x:Play"))
       (g2 (group img home 1 "BOG:Chapters"))
       (chap (group img g2 0 " b : Chapters "))
       (setup (group img ds 1 "P:Setup"))
       (g3 (group img setup 0 "BOG:Audio"))
       (eng (group img g3 0 "B:English"))
       (fra (group img g3 1 "B:French"))
       (g4 (group img setup 1 "BOG:Back"))
       (back (group img g4 0 "B:Back")))
  (picture img play 0 "N:1" 20 20 60 20 'ellipse '(200 40 40) '(0 0 0))
  (picture img play 1 "S:1" 16 18 68 24 'ellipse '(250 200 40) '(0 0 0))
  (picture img play 2 "A:1" 20 20 60 20 'rect '(255 255 255) '(0 0 0))
  (picture img chap 0 "Normal:1" 120 20 80 20 'gradient '(0 90 200) '(0 220 120))
  (picture img chap 1 "S:frame1" 120 20 80 20 'rect '(240 240 0) '(0 0 0))
  (picture img chap 2 "S:frame2" 120 20 80 20 'rect '(240 120 0) '(0 0 0))
  (picture img chap 3 "a:1" 120 20 80 20 'ellipse '(255 255 255) '(0 0 0))
  (picture img g2 1 "B" 120 50 10 10 'rect '(9 9 9) '(0 0 0))
  (picture img eng 0 "N:1" 20 60 60 20 'rect '(60 60 200) '(0 0 0))
  (picture img eng 1 "S:1" 20 60 60 20 'rect '(250 250 250) '(0 0 0))
  (picture img fra 0 "N:1" 100 60 60 20 'rect '(60 200 60) '(0 0 0))
  (picture img fra 1 "S:1" 100 60 60 20 'rect '(250 250 250) '(0 0 0))
  (picture img back 0 "n:anything" 20 120 50 20 'ellipse '(180 180 180) '(0 0 0))
  (picture img back 1 "s:x" 20 120 50 20 'ellipse '(255 80 80) '(0 0 0))
  (gimp-image-reorder-item img bg 0 1)
  (save img "design.psd" 1))

; A full-size top menu for the end-to-end disc test: two pages, buttons
; named after the types they get ("Title" plays the first title, "Page"
; shows a page), each in three states; the selected pictures are larger
; than the normal ones so that every state is padded to their union.
(let* ((img (car (gimp-image-new 1920 1080 RGB)))
       (bg (background img 1920 1080))
       (ig (group img 0 0 "IG:TopMenu"))
       (ds (group img ig 0 "DS:Main"))
       (main (group img ds 0 "P:Main"))
       (g1 (group img main 0 "BOG:Movie"))
       (title (group img g1 0 "B:Title"))
       (g2 (group img main 1 "BOG:More"))
       (more (group img g2 0 "B:Page"))
       (second (group img ds 1 "P:Second"))
       (g3 (group img second 0 "BOG:Back"))
       ; GIMP makes a second "B:Page" unique as "B:Page #1"; the import
       ; trims blanks and ignores letter case, so this spelling stays "Page".
       (back (group img g3 0 " b : Page "))
       (g4 (group img second 1 "BOG:Play"))
       (play (group img g4 0 "B:x:Title")))
  (picture img title 0 "N:1" 760 400 400 100 'ellipse '(40 80 200) '(0 0 0))
  (picture img title 1 "S:1" 750 390 420 120 'ellipse '(250 200 40) '(0 0 0))
  (picture img title 2 "A:1" 760 400 400 100 'rect '(255 255 255) '(0 0 0))
  (picture img more 0 "N:1" 760 600 400 100 'rect '(40 160 80) '(0 0 0))
  (picture img more 1 "S:1" 750 590 420 120 'rect '(240 120 0) '(0 0 0))
  (picture img more 2 "A:1" 760 600 400 100 'rect '(255 255 255) '(0 0 0))
  (picture img back 0 "N:1" 200 800 300 80 'rect '(120 40 160) '(0 0 0))
  (picture img back 1 "S:1" 200 800 300 80 'rect '(250 250 120) '(0 0 0))
  (picture img back 2 "A:1" 200 800 300 80 'rect '(255 255 255) '(0 0 0))
  (picture img play 0 "N:1" 1400 800 300 80 'ellipse '(200 40 40) '(0 0 0))
  (picture img play 1 "S:1" 1400 800 300 80 'ellipse '(60 220 220) '(0 0 0))
  (picture img play 2 "A:1" 1400 800 300 80 'rect '(255 255 255) '(0 0 0))
  (gimp-image-reorder-item img bg 0 1)
  (save img "menu_disc.psd" 1))

; The same kind of design stored without compression.
(let* ((img (car (gimp-image-new 64 48 RGB)))
       (ig (group img 0 0 "IG:Raw"))
       (ds (group img ig 0 "DS:Main"))
       (p (group img ds 0 "P:Only"))
       (g (group img p 0 "BOG:One"))
       (b (group img g 0 "B:Go")))
  (picture img b 0 "N:1" 4 4 30 12 'gradient '(255 0 0) '(0 0 255))
  (picture img b 1 "S:1" 4 4 30 12 'rect '(0 255 0) '(0 0 0))
  (save img "design_raw.psd" 0))

; A state layer before any button group.
(let* ((img (car (gimp-image-new 64 48 RGB)))
       (ig (group img 0 0 "IG:Menu"))
       (ds (group img ig 0 "DS:Main"))
       (p (group img ds 0 "P:Home"))
       (g (group img p 0 "BOG:One"))
       (b (group img g 1 "B:Late")))
  (picture img g 0 "N:early" 4 4 20 10 'rect '(255 0 0) '(0 0 0))
  (picture img b 0 "N:1" 4 20 20 10 'rect '(0 255 0) '(0 0 0))
  (save img "bad_state_first.psd" 1))

; Two IG groups.
(let* ((img (car (gimp-image-new 64 48 RGB)))
       (ig1 (group img 0 0 "IG:First"))
       (ds (group img ig1 0 "DS:Main"))
       (p (group img ds 0 "P:Home"))
       (g (group img p 0 "BOG:One"))
       (b (group img g 0 "B:Go"))
       (ig2 (group img 0 1 "IG:Second")))
  (picture img b 0 "N:1" 4 4 20 10 'rect '(255 0 0) '(0 0 0))
  (save img "bad_two_ig.psd" 1))

; A display set without an IG group above it.
(let* ((img (car (gimp-image-new 64 48 RGB)))
       (ds (group img 0 0 "DS:Main"))
       (p (group img ds 0 "P:Home"))
       (g (group img p 0 "BOG:One"))
       (b (group img g 0 "B:Go")))
  (picture img b 0 "N:1" 4 4 20 10 'rect '(255 0 0) '(0 0 0))
  (save img "bad_ds_without_ig.psd" 1))

(gimp-quit 0)
EOF
"$GIMP" -i -d -f --batch-interpreter=plug-in-script-fu-eval -b - <"$scm" >/dev/null

# --- Single-layer documents (ImageMagick) -----------------------------------
cd "$out"
convert -size 40x30 gradient:red-blue -depth 8 -type TrueColor -compress RLE PSD:rgb8.psd
convert -size 40x30 plasma:fractal -seed 7 -depth 8 -compress None PSD:rgb8_raw.psd
convert -size 40x30 plasma:fractal -seed 3 -alpha set -channel A -fx 'i/w' +channel -depth 8 -compress RLE PSD:rgba8.psd
convert -size 40x30 plasma:fractal -seed 5 -depth 16 -compress RLE PSD:rgb16.psd
convert -size 40x30 gradient:white-black -colorspace Gray -depth 8 -compress RLE PSD:gray8.psd
convert -size 40x30 gradient:white-black -colorspace Gray -depth 16 -compress None PSD:gray16.psd
convert -size 40x30 plasma:fractal -seed 9 -type Palette -depth 8 -compress RLE PSD:indexed8.psd
convert -size 40x30 gradient:white-black -monochrome -depth 1 -compress RLE PSD:bitmap1.psd
convert -size 40x30 plasma:fractal -seed 11 -colorspace CMYK -depth 8 -compress RLE PSD:cmyk8.psd
convert -size 40x30 plasma:fractal -seed 13 -colorspace CMYK -depth 16 -compress RLE PSD:cmyk16.psd

# --- Derived documents and expectations (psd-tools) -------------------------
OUT="$out" "$PY" - <<'PYEOF'
import os, struct, zlib
from psd_tools import PSDImage
from psd_tools.composite import composite as psd_composite
from psd_tools.constants import ColorMode, Compression, Tag
import numpy
from PIL import Image

out = os.environ["OUT"]

def derive(src, dst, mode=None, depth32=False, colour_data=None):
    psd = PSDImage.open(os.path.join(out, src))
    rec = psd._record
    if mode is not None:
        rec.header.color_mode = mode
    if colour_data is not None:
        rec.color_mode_data.value = colour_data
    if depth32:
        # 16-bit samples v become raw 32-bit floats v / 65535.
        li = rec.layer_and_mask_information.layer_info
        for r, chans in zip(li.layer_records, li.channel_image_data):
            w, h = r.right - r.left, r.bottom - r.top
            for info, cd in zip(r.channel_info, chans):
                raw = cd.get_data(w, h, 16)
                vals = struct.unpack(">%dH" % (len(raw) // 2), raw)
                cd.compression = Compression.RAW
                n = cd.set_data(struct.pack(">%df" % len(vals), *[v / 65535.0 for v in vals]), w, h, 32)
                info.length = n + 2
        hdr = rec.header
        merged = rec.image_data.get_data(hdr, split=False)
        vals = struct.unpack(">%dH" % (len(merged) // 2), merged)
        hdr.depth = 32
        rec.image_data.compression = Compression.RAW
        packed = struct.pack(">%df" % len(vals), *[v / 65535.0 for v in vals])
        size = len(packed) // hdr.channels
        rec.image_data.set_data([packed[c * size:(c + 1) * size] for c in range(hdr.channels)], hdr)
    with open(os.path.join(out, dst), "wb") as f:
        psd.save(f)

derive("rgb8.psd", "lab8.psd", mode=ColorMode.LAB)
derive("cmyk8.psd", "multichannel8.psd", mode=ColorMode.MULTICHANNEL)
derive("gray8.psd", "duotone8.psd", mode=ColorMode.DUOTONE, colour_data=bytes(range(24)))
derive("rgb16.psd", "rgb32.psd", depth32=True)

# A design whose state layer "S:1" of button Play is empty (no rectangle,
# no samples), as an editor stores a layer without pixels.
psd = PSDImage.open(os.path.join(out, "design.psd"))
li = psd._record.layer_and_mask_information.layer_info
i = [r.name for r in li.layer_records].index("S:1")
r = li.layer_records[i]
r.top = r.left = r.bottom = r.right = 0
for info, cd in zip(r.channel_info, li.channel_image_data[i]):
    cd.compression = Compression.RAW
    cd.data = b""
    info.length = 2
with open(os.path.join(out, "bad_empty_layer.psd"), "wb") as f:
    psd.save(f)

# What a player should show of the top menu design: one page's buttons on
# a transparent plane, one button in its selected state and the others in
# their normal one, as psd-tools composites the design's layers.
def state_plane(src, page, selected, tag):
    psd = PSDImage.open(os.path.join(out, src))
    def button_of(layer):
        while layer is not None and layer.name.replace(" ", "")[:2].upper() != "B:":
            layer = layer.parent
        return layer
    def keep(layer):
        if layer.is_group():
            return not layer.name.startswith("P:") or layer.name == "P:" + page
        b = button_of(layer)
        if b is None:
            return False
        same = b.name.replace(" ", "").upper() == selected.replace(" ", "").upper()
        return layer.name[:1].upper() == ("S" if same else "N")
    colour, _, alpha = psd_composite(psd, color=0.0, alpha=0.0, layer_filter=keep, force=True)
    rgba = numpy.concatenate((colour, alpha), axis=2)
    plane = Image.fromarray(numpy.round(rgba * 255).astype(numpy.uint8), "RGBA")
    plane.save(os.path.join(out, "%s-%s-%s.png" % (src[:-4], page, tag)), optimize=True)

for page, selected, tag in (("Main", "B:Title", "Title"), ("Main", "B:Page", "Page"),
                            ("Second", " b : Page ", "Page"), ("Second", "B:x:Title", "Title")):
    state_plane("menu_disc.psd", page, selected, tag)

def scaled(raw, depth, count):
    if depth == 8:
        return raw[:count]
    if depth == 16:
        vals = struct.unpack(">%dH" % count, raw[: 2 * count])
        return bytes(v * 255 // 65535 for v in vals)
    if depth == 32:
        vals = struct.unpack(">%df" % count, raw[: 4 * count])
        return bytes(0 if not f > 0 else 255 if f >= 1 else int(f * 255.0) for f in vals)
    # depth 1: a set bit is 0, a clear one 1
    w = count
    return bytes(0 if (raw[x >> 3] >> (7 - (x & 7))) & 1 else 1 for x in range(w))

def channel_samples(cd, w, h, depth):
    if w <= 0 or h <= 0:
        return b""
    raw = cd.get_data(w, h, depth)
    if depth != 1:
        return scaled(raw, depth, w * h)
    row = (w + 7) // 8
    return b"".join(scaled(raw[y * row:(y + 1) * row], 1, w) for y in range(h))

for name in sorted(os.listdir(out)):
    if not name.endswith(".psd"):
        continue
    psd = PSDImage.open(os.path.join(out, name))
    rec = psd._record
    hdr = rec.header
    lines = ["header %d %d %d %d %d" % (int(hdr.color_mode), hdr.depth, hdr.channels, hdr.width, hdr.height)]
    li = rec.layer_and_mask_information.layer_info
    records = li.layer_records if li else []
    lines.append("layers %d" % len(records))
    for n, (r, chans) in enumerate(zip(records, li.channel_image_data if li else [])):
        section = 0
        block = r.tagged_blocks.get_data(Tag.SECTION_DIVIDER_SETTING) if r.tagged_blocks else None
        if block is not None:
            section = int(block.kind)
        lines.append("layer %d %d %d %d %d %d %d\t%s" % (n, r.left, r.top, r.right, r.bottom, section,
                                                         len(r.channel_info), r.name))
        for info, cd in zip(r.channel_info, chans):
            if int(info.id) in (-2, -3):
                m = r.mask_data
                w, h = (m.right - m.left, m.bottom - m.top) if m else (0, 0)
            else:
                w, h = r.right - r.left, r.bottom - r.top
            s = channel_samples(cd, w, h, hdr.depth) if info.length > 2 else b""
            lines.append("channel %d %d %d %08x" % (int(info.id), info.length, len(s), zlib.crc32(s)))
    with open(os.path.join(out, name + ".expect"), "w") as f:
        f.write("\n".join(lines) + "\n")
PYEOF
ls -l "$out"
