#!/usr/bin/python3
"""Makes the DTS and DTS-HD fixtures of the unit tests.

ffmpeg encodes the DTS core frames. Nothing here encodes DTS-HD, so the
extension substreams are written bit by bit after the ETSI TS 102 114 layout
(substream header, one audio asset descriptor, the asset's payload starting
with its component's sync word) around the real core frames. The payloads are
placeholders: decoders see a well-formed substream that names its extension,
and the core stays decodable on its own.

  tests/data/make-dts-fixtures.py [OUTFOLDER]   (default: this script's folder)

Then every file is checked with ffprobe (codec, profile, rate, channels).
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else HERE

SYNC_EXSS = 0x64582025
SYNC_XLL = 0x41A29547
SYNC_XBR = 0x655E315E
SYNC_LBR = 0x0A801921
# Extension mask bits of an asset in coding mode 0.
MASK_XBR = 0x020
MASK_XLL = 0x200


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, n, v):
        assert 0 <= v < (1 << n), (n, v)
        self.bits += [(v >> (n - 1 - i)) & 1 for i in range(n)]

    def align(self):
        while len(self.bits) % 8:
            self.bits.append(0)

    def __len__(self):
        return len(self.bits)

    def bytes(self):
        assert len(self.bits) % 8 == 0
        return bytes(int("".join(map(str, self.bits[i:i + 8])), 2) for i in range(0, len(self.bits), 8))


def crc16_ccitt(data, crc=0xFFFF):
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def asset_descriptor(mode, payload_size, channels, bit_res, rate_code, spk_mask):
    d = Bits()
    d.put(9, 0)                    # descriptor size - 1, patched below
    d.put(3, 0)                    # asset index
    d.put(1, 0)                    # asset type descriptor present
    d.put(1, 0)                    # language descriptor present
    d.put(1, 0)                    # info text present
    d.put(5, bit_res - 1)          # bit resolution - 1
    d.put(4, rate_code)            # maximum sample rate code
    d.put(8, channels - 1)         # total channels - 1
    d.put(1, 1)                    # one-to-one channel to speaker map
    if channels > 2:
        d.put(1, 0)                # embedded stereo
    if channels > 6:
        d.put(1, 0)                # embedded 6 channels
    d.put(1, 1)                    # speaker mask enabled
    d.put(2, 3)                    # mask of (3 + 1) * 4 = 16 bits
    d.put(16, spk_mask)
    d.put(3, 0)                    # speaker remap sets
    d.put(1, 0)                    # DRC coefficients present
    d.put(1, 0)                    # dialog normalisation present
    if mode == "xbr":
        d.put(2, 0)                # coding mode 0: components by mask
        d.put(12, MASK_XBR)
        d.put(14, payload_size - 1)  # XBR size - 1
    elif mode == "xll":
        d.put(2, 0)
        d.put(12, MASK_XLL)
        d.put(16, payload_size - 1)  # XLL size - 1 (substream size width)
        d.put(1, 0)                # no XLL sync word offset
    elif mode == "lbr":
        d.put(2, 2)                # coding mode 2: low bit rate
        d.put(14, payload_size - 1)
        d.put(1, 0)                # no LBR sync distance
    else:
        raise ValueError(mode)
    d.align()
    size = len(d) // 8
    for i in range(9):             # patch the size field
        d.bits[i] = ((size - 1) >> (8 - i)) & 1
    return d


def substream(payload, mode, with_core, channels=6, bit_res=24, rate_code=12, spk_mask=0x000F):
    """One extension substream: header (with one asset) and its payload."""
    desc = asset_descriptor(mode, len(payload), channels, bit_res, rate_code, spk_mask)
    for header_size in range(16, 256):
        h = Bits()
        h.put(32, SYNC_EXSS)
        h.put(8, 0)                # user defined bits
        h.put(2, 0)                # substream index
        h.put(1, 0)                # short header: 8-bit header size, 16-bit substream size
        h.put(8, header_size - 1)
        h.put(16, header_size + len(payload) - 1)
        h.put(1, 1)                # static fields present
        h.put(2, 2)                # reference clock 48 kHz
        h.put(3, 0)                # frame duration code: 512 samples
        h.put(1, 0)                # no time code
        h.put(3, 0)                # presentations - 1
        h.put(3, 0)                # assets - 1
        h.put(1, 1)                # active substream mask of the presentation
        h.put(8, 1)                # active asset mask
        h.put(1, 0)                # no mixing metadata
        h.put(16, len(payload) - 1)  # asset size - 1
        h.bits += desc.bits
        h.put(1, 1 if with_core else 0)  # backward-compatible core present
        if with_core:
            h.put(2, 0)            # core's substream index
            h.put(3, 0)            # core's asset index
        h.align()
        if len(h) // 8 + 2 == header_size:
            body = h.bytes()
            crc = crc16_ccitt(body[5:])
            return body + bytes([crc >> 8, crc & 0xFF]) + payload
    raise RuntimeError("substream header does not fit")


def component(sync, size, fill):
    body = sync.to_bytes(4, "big") + bytes(fill)
    return (body + bytes(size))[:size]


def xbr_component(fill):
    """An XBR frame that adds nothing: one channel set of one channel with one
    subband and no bits allocated, in every subframe of the core."""
    data = Bits()
    for _ in range(4):             # more subframes than the core has; the rest is skipped
        data.put(2, 0)             # bits of the allocation index - 2
        data.put(2, 0)             # allocation of subband 0: none
        data.put(3, 1)             # bits of the scale indices (never 0)
        data.put(16, 0xFFFF)       # DSYNC after the last subsubframe
    data.align()
    body = data.bytes() + bytes(fill)
    h = Bits()
    h.put(32, SYNC_XBR)
    h.put(6, 11 - 1)               # header size - 1
    h.put(2, 0)                    # channel sets - 1
    h.put(14, len(body) - 1)       # channel set data size - 1
    h.put(1, 0)                    # no transition mode
    h.put(3, 0)                    # channels - 1
    h.put(2, 0)                    # subband count field of 5 bits
    h.put(5, 0)                    # subbands - 1
    h.align()
    head = h.bytes()
    crc = crc16_ccitt(head[4:])
    return head + bytes([crc >> 8, crc & 0xFF]) + body


def core_frames(data):
    frames, pos = [], 0
    while pos + 10 <= len(data):
        assert data[pos:pos + 4] == b"\x7f\xfe\x80\x01", pos
        fsize = ((int.from_bytes(data[pos + 5:pos + 8], "big") >> 4) & 0x3FFF) + 1
        frames.append(data[pos:pos + fsize])
        pos += fsize
    assert pos == len(data)
    return frames


def dtshd_container(stream):
    """The DTS-HD file container: a header chunk, then the stream chunk."""
    def chunk(tag, body):
        return tag + len(body).to_bytes(8, "big") + body
    hdr = bytes(4) + (0).to_bytes(4, "big") + bytes(6)  # version, time code, rates: not read by the parser
    return chunk(b"DTSHDHDR", hdr) + chunk(b"STRMDATA", stream)


def tone(f):
    return f"0.35*sin(2*PI*{f}*t)*(0.7+0.3*sin(2*PI*0.5*t))"


def encode(path, rate, layout, exprs, bitrate, seconds):
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"aevalsrc=exprs={'|'.join(exprs)}:sample_rate={rate}:channel_layout={layout}:duration={seconds}",
                    "-fflags", "+bitexact", "-flags:a", "+bitexact", "-c:a", "dca", "-strict", "-2",
                    "-b:a", bitrate, "-f", "dts", path], check=True)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def probe(name):
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                        "stream=codec_name,profile,sample_rate,channels", "-of", "default=nw=1",
                        os.path.join(OUT, name)], capture_output=True, text=True, check=True)
    return dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        core51 = os.path.join(work, "core51.dts")
        encode(core51, 48000, "5.1", [tone(f) for f in (440, 550, 330, 55, 770, 880)], "768k", 0.5)
        core44 = os.path.join(work, "core44.dts")
        encode(core44, 44100, "stereo", [tone(440), tone(660)], "384k", 0.3)
        core = open(core51, "rb").read()
        frames = core_frames(core)
        write("dts_51.dts", core)
        write("fail_dts_44k.dts", open(core44, "rb").read())

    # Each frame's extension differs a little (its index in the filler), as
    # real payloads do.
    def hd(mode, payload, with_core=True):
        out = b""
        for i, f in enumerate(frames):
            out += (f if with_core else b"") + substream(payload(i), mode, with_core)
        return out

    def placeholder(sync, size):
        return lambda i: component(sync, size, [i & 0xFF] * 8)

    write("dtshd_ma.dtshd", dtshd_container(hd("xll", placeholder(SYNC_XLL, 96))))
    write("dtshd_hra.dts", hd("xbr", lambda i: xbr_component([i & 0xFF] * 8)))
    write("dts_lbr.dts", hd("lbr", placeholder(SYNC_LBR, 128), with_core=False))
    write("fail_dtshd_nocore.dts", hd("xll", placeholder(SYNC_XLL, 96), with_core=False))

    want = {
        "dts_51.dts": {"codec_name": "dts", "profile": "DTS", "sample_rate": "48000", "channels": "6"},
        "fail_dts_44k.dts": {"codec_name": "dts", "profile": "DTS", "sample_rate": "44100", "channels": "2"},
        "dtshd_hra.dts": {"codec_name": "dts", "profile": "DTS-HD HRA", "sample_rate": "48000", "channels": "6"},
        # The placeholder XLL payload is no lossless audio, so the decoder
        # falls back to the core and calls it DTS; the stream parser, which
        # reads the substream header and the XLL header's start, names the
        # profile where no core hides it.
        "fail_dtshd_nocore.dts": {"codec_name": "dts", "profile": "DTS-HD MA", "sample_rate": "48000"},
        "dtshd_ma.dtshd": {"codec_name": "dts", "sample_rate": "48000", "channels": "6"},
    }
    fail = False
    for name, fields in want.items():
        got = probe(name)
        for k, v in fields.items():
            ok = got.get(k) == v
            fail |= not ok
            print(f"  {name:24} {k:12} {got.get(k)}" + ("" if ok else f"  (expected {v})"), file=sys.stderr)
    # ffmpeg's stream parser joins each core frame with the substream behind
    # it: its packets are exactly frame plus substream.
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "packet=size", "-of", "csv=p=0",
                        os.path.join(OUT, "dtshd_ma.dtshd")], capture_output=True, text=True, check=True)
    sizes = [int(x) for x in r.stdout.split()]
    want_sizes = [len(f) + len(substream(placeholder(SYNC_XLL, 96)(i), "xll", True)) for i, f in enumerate(frames)]
    ok = sizes == want_sizes
    fail |= not ok
    print(f"  {'dtshd_ma.dtshd':24} {'packets':12} {len(sizes)} of core + substream" + ("" if ok else "  (not as written)"),
          file=sys.stderr)
    if fail:
        sys.exit("make-dts-fixtures: some fixtures are not what the tests expect")


if __name__ == "__main__":
    main()
