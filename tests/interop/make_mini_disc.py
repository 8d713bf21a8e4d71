#!/usr/bin/env python3
"""Writes the smallest disc folder libbluray accepts, for checking the
zv_bdclient test client on its own, before any disc of ours exists.

    make_mini_disc.py OUTFOLDER VIDEO.264 AUDIO.ac3

One clip (mkvmerge and ffmpeg's m2ts muxer), one playlist with two chapters, one movie
title: first play jumps to title 1, title 1 and the top menu play playlist 0.
The clip information has no EP map; libbluray then reads the clip whole.
Deliberately independent of the project's own writers.
"""
import json
import os
import struct
import subprocess
import sys

VIDEO_PID, AUDIO_PID = 0x1011, 0x1100


def u8(v): return struct.pack(">B", v)
def u16(v): return struct.pack(">H", v)
def u32(v): return struct.pack(">I", v)
def block(body): return u32(len(body)) + body  # 32-bit length prefix


def index_bdmv():
    app_info = block(bytes(2 + 32))                    # flags, format/rate, provider data
    header_len = 8 + 4 + 4 + 24
    indexes_start = header_len + len(app_info)
    hdmv = lambda obj: u16(0) + u16(obj) + u32(0)      # playback type 0 (movie), id_ref
    first_play = u32(1 << 30) + hdmv(0)               # object_type 1 = HDMV
    top_menu = u32(1 << 30) + hdmv(1)
    title1 = u32(1 << 30) + hdmv(1)                   # access type 0: accessible
    indexes = block(first_play + top_menu + u16(1) + title1)
    return (b"INDX0200" + u32(indexes_start) + u32(0) + bytes(24)
            + app_info + indexes)


def movie_object_bdmv():
    jump_title_1 = bytes.fromhex("218100000000000100000000")
    play_pl_0 = bytes.fromhex("228000000000000000000000")

    def obj(cmds):
        return u16(0) + u16(len(cmds)) + b"".join(cmds)  # no masks, resume off
    objects = obj([jump_title_1]) + obj([play_pl_0])
    return b"MOBJ0200" + u32(0) + bytes(28) + block(u32(0) + u16(2) + objects)


def playlist_mpls(in_45k, out_45k, marks_45k):
    app_info = block(u8(0) + u8(1) + u16(0) + bytes(8) + u16(0))  # sequential playback
    stn_stream = lambda pid, attrs: (u8(9) + u8(1) + u16(pid) + bytes(6)
                                     + u8(len(attrs)) + attrs)
    video = stn_stream(VIDEO_PID, u8(0x1B) + u8(0x61) + u8(0x30) + bytes(2))  # 1080p 23.976 16:9
    audio = stn_stream(AUDIO_PID, u8(0x81) + u8(0x31) + b"eng")              # stereo 48 kHz
    stn_body = u16(0) + bytes([1, 1, 0, 0, 0, 0, 0]) + bytes(5) + video + audio
    stn = u16(len(stn_body)) + stn_body
    item_body = (b"00000" + b"M2TS" + u16(1)          # connection condition 1
                 + u8(0) + u32(in_45k) + u32(out_45k) + bytes(8)
                 + u8(0) + u8(0) + u16(0) + stn)
    item = u16(len(item_body)) + item_body
    playlist = block(u16(0) + u16(1) + u16(0) + item)
    marks = block(u16(len(marks_45k)) + b"".join(
        u8(0) + u8(1) + u16(0) + u32(t) + u16(0xFFFF) + u32(0) for t in marks_45k))
    header_len = 8 + 12 + 20
    app_end = header_len + len(app_info)
    return (b"MPLS0200" + u32(app_end) + u32(app_end + len(playlist)) + u32(0)
            + bytes(20) + app_info + playlist + marks)


def clip_clpi(packets, start_45k, end_45k):
    ts_type = u16(30) + u8(0x80) + b"HDMV" + bytes(25)
    clip_info = block(u16(0) + u8(1) + u8(1) + u32(0) + u32(48000000 // 8)
                      + u32(packets) + bytes(128) + ts_type)
    sequence = block(u8(0) + u8(1) + u32(0) + u8(1) + u8(0)
                     + u16(VIDEO_PID) + u32(0) + u32(start_45k) + u32(end_45k))
    attrs = lambda body: u8(len(body)) + body
    program = block(u8(0) + u8(1) + u32(0) + u16(0x0100) + u8(2) + u8(0)
                    + u16(VIDEO_PID) + attrs(u8(0x1B) + u8(0x61) + u8(0x30) + bytes(2))
                    + u16(AUDIO_PID) + attrs(u8(0x81) + u8(0x31) + b"eng"))
    cpi = u32(0)        # no EP map
    marks = u32(0)
    seq_start = 40 + len(clip_info)
    prog_start = seq_start + len(sequence)
    cpi_start = prog_start + len(program)
    mark_start = cpi_start + len(cpi)
    return (b"HDMV0200" + u32(seq_start) + u32(prog_start) + u32(cpi_start)
            + u32(mark_start) + u32(0) + bytes(12) + clip_info + sequence
            + program + cpi + marks)


def main():
    out, video, audio = sys.argv[1:4]
    bdmv = os.path.join(out, "BDMV")
    for sub in ("PLAYLIST", "CLIPINF", "STREAM", "BACKUP"):
        os.makedirs(os.path.join(bdmv, sub), exist_ok=True)
    m2ts = os.path.join(bdmv, "STREAM", "00000.m2ts")
    # Raw H.264 has no time stamps that ffmpeg can copy; mkvmerge derives
    # them from the frame rate, then ffmpeg writes 192-byte source packets.
    mkv = os.path.join(out, "mini.mkv")
    subprocess.run(["mkvmerge", "-q", "-o", mkv, "--default-duration",
                    "0:24000/1001p", video, audio], check=True)
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", mkv,
                    "-map", "0", "-c", "copy", "-f", "mpegts",
                    "-mpegts_m2ts_mode", "1", m2ts], check=True)
    os.remove(mkv)
    # libbluray reads aligned units of 32 packets: pad with null packets.
    size = os.path.getsize(m2ts)
    null = bytes(4) + b"\x47\x1f\xff\x10" + b"\xff" * 184
    with open(m2ts, "ab") as f:
        f.write(null * ((-(size // 192)) % 32))
    packets = os.path.getsize(m2ts) // 192

    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=start_pts,duration_ts", "-of", "json", m2ts],
        check=True, capture_output=True).stdout)["streams"][0]
    start = int(probe["start_pts"]) // 2
    end = start + int(probe["duration_ts"]) // 2
    files = {
        "index.bdmv": index_bdmv(),
        "MovieObject.bdmv": movie_object_bdmv(),
        "PLAYLIST/00000.mpls": playlist_mpls(start, end, [start, start + 45045]),
        "CLIPINF/00000.clpi": clip_clpi(packets, start, end),
    }
    for name, data in files.items():
        for folder in (bdmv, os.path.join(bdmv, "BACKUP")):
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    print(f"packets {packets} in_time {start} out_time {end}")


if __name__ == "__main__":
    main()
