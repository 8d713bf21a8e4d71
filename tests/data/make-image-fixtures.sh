#!/usr/bin/env bash
# Makes the small picture fixtures of the image-decoding and graphics tests
# with ImageMagick and Python's PIL (Debian's python3-pil, for /usr/bin/python3),
# and beside each picture the pixels PIL decodes from it as raw RGBA
# ("NAME.rgba", rows top to bottom), which the tests compare with our own
# decoders. Nothing is downloaded; the photograph is ImageMagick's built-in
# "rose:" picture.
#
#   tests/data/make-image-fixtures.sh [OUTFOLDER]   (default: tests/data/images)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/images}"
mkdir -p "$out"
command -v convert >/dev/null || { echo "make-image-fixtures: convert not found (run scripts/install-deps)" >&2; exit 2; }
PY=/usr/bin/python3
"$PY" -c 'import PIL' 2>/dev/null || { echo "make-image-fixtures: python3-pil missing (run scripts/install-deps)" >&2; exit 2; }

# A photograph of well over 255 colours (twice the built-in rose, 140x92).
convert rose: -filter Lanczos -resize 200% -strip "PNG24:$out/photo.png"
convert "$out/photo.png" -strip -quality 92 -sampling-factor 2x2 "$out/photo.jpg"

OUT="$out" "$PY" - <<'PYEOF'
import os
from PIL import Image, ImageDraw

out = os.environ["OUT"]

def pattern(w, h):
    # Opaque drawing with flat areas, gradients and a few shapes.
    im = Image.new("RGB", (w, h), (20, 40, 200))
    d = ImageDraw.Draw(im)
    for x in range(w):
        d.line([(x, 0), (x, h // 3)], fill=(x * 255 // (w - 1), 128, 255 - x * 255 // (w - 1)))
    d.ellipse([w // 4, h // 3, 3 * w // 4, h - 2], fill=(250, 220, 10), outline=(0, 0, 0))
    d.rectangle([2, h - 8, 12, h - 2], fill=(255, 255, 255))
    return im

# Indexed PNG with a transparent background and one half-transparent entry.
p = Image.new("P", (40, 30), 0)
pal = [0, 0, 0, 255, 0, 0, 0, 200, 0, 30, 60, 250, 255, 255, 255, 128, 64, 32]
p.putpalette(pal + [0] * (768 - len(pal)))
d = ImageDraw.Draw(p)
d.rectangle([5, 5, 30, 20], fill=1)
d.ellipse([10, 8, 36, 28], fill=2)
d.line([(0, 29), (39, 0)], fill=3, width=2)
d.rectangle([32, 2, 38, 6], fill=4)
d.rectangle([1, 22, 6, 27], fill=5)
p.save(f"{out}/indexed_trns.png", transparency=bytes([0, 255, 255, 255, 255, 128]))

# 4-bit indexed PNG (packed pixels) without transparency.
p16 = p.copy()
p16.save(f"{out}/indexed4.png", bits=4)

rgb = pattern(48, 32)
rgb.save(f"{out}/rgb.png")
rgba = rgb.convert("RGBA")
px = rgba.load()
for y in range(32):
    for x in range(48):
        r, g, b, _ = px[x, y]
        a = 0 if x < 6 else (255 if x >= 24 else (x - 6) * 14)
        px[x, y] = (r, g, b, a)
rgba.save(f"{out}/rgba.png")
rgb.convert("L").save(f"{out}/gray.png")

# GIF with a transparent index.
g = p.copy()
g.save(f"{out}/trans.gif", transparency=0)

# BMP: 24-bit bottom-up (PIL's default), 8-bit indexed, 4-bit and 1-bit.
rgb.save(f"{out}/rgb24.bmp")
rgb.quantize(200).save(f"{out}/pal8.bmp")
rgb.convert("1").save(f"{out}/mono.bmp")

def bmp_header(w, h, bpp, hdr, pixels, extra=b""):
    import struct
    off = 14 + hdr + len(extra)
    fh = b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off)
    return fh, off

# 24-bit top-down and 32-bit with an alpha mask (V5 header), written by hand
# so both layouts are covered.
import struct
def row24(im, y):
    w = im.size[0]
    r = b"".join(bytes((b, g, r_)) for (r_, g, b) in (im.getpixel((x, y)) for x in range(w)))
    return r + b"\0" * ((4 - len(r) % 4) % 4)
w, h = rgb.size
data = b"".join(row24(rgb, y) for y in range(h))
info = struct.pack("<IiiHHIIiiII", 40, w, -h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
open(f"{out}/rgb24_topdown.bmp", "wb").write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + info + data)

w, h = rgba.size
data = b"".join(bytes((b, g, r, a)) for y in range(h - 1, -1, -1) for (r, g, b, a) in (rgba.getpixel((x, y)) for x in range(w)))
v5 = struct.pack("<IiiHHIIiiII", 124, w, h, 1, 32, 3, len(data), 2835, 2835, 0, 0)
v5 += struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
v5 += b"sRGB" + b"\0" * (124 - len(v5) - 4)
open(f"{out}/argb32.bmp", "wb").write(b"BM" + struct.pack("<IHHI", 14 + 124 + len(data), 0, 0, 14 + 124) + v5 + data)

# 4-bit bottom-up with a 16-entry table (PIL writes no 4-bit BMP).
q4 = p.convert("RGB").quantize(16)
w, h = q4.size
pal4 = q4.getpalette()[:48]
rows = []
for y in range(h - 1, -1, -1):
    r = bytes((q4.getpixel((x, y)) << 4) | (q4.getpixel((x + 1, y)) if x + 1 < w else 0) for x in range(0, w, 2))
    rows.append(r + b"\0" * ((4 - len(r) % 4) % 4))
data = b"".join(rows)
table = b"".join(bytes((pal4[i * 3 + 2], pal4[i * 3 + 1], pal4[i * 3], 0)) for i in range(16))
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(data), 2835, 2835, 16, 0)
off = 14 + 40 + len(table)
open(f"{out}/pal4.bmp", "wb").write(b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + info + table + data)

# An ARGB picture of under 200 distinct colours plus transparent pixels.
e = Image.new("RGBA", (40, 20), (0, 0, 0, 0))
ep = e.load()
for y in range(20):
    for x in range(40):
        i = (y // 2) * 20 + x // 2
        if x + y < 6:
            continue
        ep[x, y] = (i * 37 % 256, i * 11 % 256, i, 255 if i % 3 else 160)
e.save(f"{out}/exact200.png")

# The reference pixels.
for name in sorted(os.listdir(out)):
    if name.endswith(".rgba"):
        continue
    im = Image.open(f"{out}/{name}")
    im.seek(0)
    open(f"{out}/{name}.rgba", "wb").write(im.convert("RGBA").tobytes())
PYEOF

# ImageMagick must agree with PIL on the lossless files (a second opinion on
# the references).
for f in "$out"/*.png "$out"/*.bmp "$out"/*.gif; do
  a=$(convert "$f[0]" -depth 8 rgba:- | md5sum)
  b=$(md5sum < "$f.rgba")
  if [ "$a" != "$b" ]; then echo "make-image-fixtures: ImageMagick and PIL differ on $(basename "$f")" >&2; fi
done
ls -l "$out"
