#!/usr/bin/env python3
"""Writes the seed inputs of the site_message, preview_file and player_engine fuzz targets.

Clips come from ffmpeg's test pattern (one per codec the player meets most); preview files
and video-frame messages are the first frame of such a clip behind its BITMAPINFOHEADER, as
the recorder stores a preview and a site sends a frame. Run from anywhere:
    python3 fuzz/make_seeds.py OUT_DIR
and the three corpora appear below OUT_DIR (merge them into fuzz/corpus/NAME).
"""
import os
import struct
import subprocess
import sys
import tempfile

CODECS = {
    "mpeg4": ["-c:v", "mpeg4", "-g", "3"],
    "mjpeg": ["-c:v", "mjpeg", "-q:v", "10"],
    "bgr24": ["-c:v", "rawvideo", "-pix_fmt", "bgr24"],
    "pal8": ["-c:v", "rawvideo", "-pix_fmt", "pal8"],
    "msvideo1": ["-c:v", "msvideo1"],
    "cinepak": ["-c:v", "cinepak"],
}


def make_clip(path, size, seconds, codec_args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc=size={size}:rate=5", "-t", str(seconds)] + codec_args + [path],
                   check=True)
    with open(path, "rb") as f:
        return f.read()


def chunks(data, start, end):
    """(fourcc, payload offset, size) of the RIFF chunks in data[start:end], lists descended."""
    at = start
    while at + 8 <= end:
        fourcc = data[at:at + 4]
        size = struct.unpack_from("<I", data, at + 4)[0]
        if fourcc in (b"RIFF", b"LIST"):
            yield from chunks(data, at + 12, min(end, at + 8 + size))
        else:
            yield fourcc, at + 8, size
        at += 8 + size + (size & 1)


def first_packed_frame(avi):
    """BITMAPINFOHEADER (with its colour table) and the first video frame of an AVI."""
    strf = frame = None
    for fourcc, at, size in chunks(avi, 0, len(avi)):
        if fourcc == b"strf" and strf is None:
            strf = bytearray(avi[at:at + size])
        elif fourcc in (b"00dc", b"00db") and size and frame is None:
            frame = avi[at:at + size]
    colours = struct.unpack_from("<I", strf, 32)[0]
    header = strf[:40 + 4 * colours]
    struct.pack_into("<I", header, 20, len(frame))  # biSizeImage
    return bytes(header) + frame


def site_message(kind, first, second, payload):
    return b"TOP\0" + struct.pack("<BxxxIII", kind, first, second, len(payload)) + b"EOF\0" + \
        payload + b"END\0EOF\0"


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        frames = {}
        for name, args in CODECS.items():
            clip = make_clip(os.path.join(tmp, name + ".avi"), "64x48", 1, args)
            write(os.path.join(out, "player_engine"), name + ".avi", clip)
            small = make_clip(os.path.join(tmp, name + "_small.avi"), "32x24", 0.4, args)
            frames[name] = first_packed_frame(small)
            write(os.path.join(out, "preview_file"), name + ".bmp", frames[name])

    # Mode byte 2: the fuzz target puts the marks, the length and the trailer in place; mode
    # 0 hands the bytes over as they are.
    messages = {
        "channel_list": site_message(0, 3, 3, b"".join(
            struct.pack("<i", cid) + name.ljust(32, b"\0")
            for cid, name in ((1, b"Gate"), (0, b"Off"), (5, b"Yard")))),
        "login_accepted": site_message(2, 0, 0, b""),
        "login_rejected": site_message(3, 0, 0, b""),
        "login_again": site_message(4, 0, 0, b""),
        "channel_stopped": site_message(5, 0, 2, b""),
        "event_record": site_message(9, 0, 0, bytes(range(256)) + bytes(44)),
        "limit_reached": site_message(15, 0, 0, b""),
        "site_closing": site_message(20, 0, 0, b""),
        "stream_error": site_message(7, 0, 0, b"\1\2\3\4"),
    }
    for name, frame in frames.items():
        messages["frame_" + name] = site_message(1, 4, 1, frame)
    for name, message in messages.items():
        write(os.path.join(out, "site_message"), name, b"\2" + message[:-8])
    write(os.path.join(out, "site_message"), "raw_channel_list",
          b"\0" + messages["channel_list"])


if __name__ == "__main__":
    main()
