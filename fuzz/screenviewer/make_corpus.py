#!/usr/bin/env python3
# Writes the seed scripts of the sections fuzz target (see sections_fuzz.cpp for the steps).
# Run from the repository root:  python3 fuzz/screenviewer/make_corpus.py fuzz/screenviewer/corpus
import struct, sys, os

def i32(v): return struct.pack('<i', v)
def u16(v): return struct.pack('<H', v)
REC = {'flags': 0, 'imageWidth': 28, 'imageHeight': 32, 'baseY': 36, 'baseX': 40, 'cellHeight': 44,
       'cellWidth': 48, 'areaWidth': 52, 'areaHeight': 56, 'overview': 1104, 'viewScope': 1108,
       'clientFit': 1112, 'scopeX': 1116, 'scopeY': 1120, 'scopeCellWidth': 1124, 'scopeCellHeight': 1128,
       'bookmarkUsed': 1132, 'useStamp': 1240, 'mode': 60 + 4, 'threadId': 24}
def rec(r, field, v): return bytes([0, r]) + u16(REC[field]) + i32(v)
def head(off, v): return bytes([1, off]) + i32(v)
def win(r, key, which): return bytes([2, r, key, which])
def hook(r, off, v): return bytes([3, r, off]) + i32(v)
PASS = bytes([31, 0])
def setup(b, pattern=0x55): return bytes([b, pattern])

seeds = {
    'plain_pass': setup(1) + bytes([20]) + PASS + bytes([28]) + PASS,
    'current_record_wild': setup(1) + head(48, 0x7FFFFFFF) + head(52, -5) + PASS + bytes([18]) + PASS,
    'cell_sizes': setup(1) + bytes([20]) + rec(0, 'cellWidth', 0) + rec(0, 'cellHeight', 0x40000000) + PASS
                  + rec(0, 'cellWidth', -1) + bytes([14, 4]) + i32(5) + i32(5) + bytes([1]) + PASS,
    'area_huge': setup(1) + bytes([20]) + rec(0, 'areaWidth', 32768) + rec(0, 'areaHeight', 65536) + PASS
                 + rec(0, 'areaWidth', 0x7FFFFFFF) + rec(0, 'areaHeight', 2) + PASS,
    'scope_overlay': setup(1) + bytes([20, 18, 19]) + rec(0, 'scopeX', 0x7FFFFFF0) + rec(0, 'scopeCellWidth', 0)
                     + rec(0, 'scopeY', -100) + PASS + bytes([12, 0x7F, 0x80]) + PASS,
    'bases_wild': setup(1) + bytes([20]) + rec(0, 'baseX', -0x80000000) + rec(0, 'baseY', 0x7FFFFFFF) + PASS
                  + bytes([11, 0x7F, 0x7F, 13, 9, 16]) + i32(0x7FFFFFFF) + i32(-0x80000000) + PASS,
    'focus_hook': setup(6) + bytes([24, 2, 25, 1]) + bytes([9]) + rec(1, 'threadId', 501)
                  + hook(0, 0, 1) + hook(0, 4, 501) + hook(0, 8, 1) + hook(0, 24, 1) + hook(0, 28, 0x7FFFFFFF)
                  + hook(0, 32, -0x80000000) + bytes([4, 0, 2, 9]) + PASS,
    'window_closes': setup(5) + bytes([24, 1, 25, 2, 1, 9]) + bytes([5, 2, 1]) + bytes([25, 1, 0, 9]) + PASS
                     + win(3, 0, 5) + head(48, 3) + PASS,
    'record_windows_unknown': setup(1) + bytes([24, 1]) + win(0, 0, 4) + win(0, 1, 6) + head(48, 0) + bytes([23, 10])
                              + PASS + bytes([18, 19, 28]) + PASS,
    'bookmarks_and_flags': setup(1) + rec(0, 'bookmarkUsed', 0x01010101) + rec(0, 'flags', 0x10001) + PASS
                           + rec(0, 'flags', 0x10000) + bytes([26, 1, 29]) + PASS,
    'request_flags': setup(1) + head(140, 0x10001) + bytes([10]) + head(255, -1) + bytes([10]) + PASS,
    'handover_race': setup(1) + bytes([6, 0, 7]) + rec(0, 'cellWidth', 0) + head(48, 200) + bytes([8, 1, 7, 8, 0]),
    # The frame of a window's view whose base is near the top of the range.
    'frame_base_overflow': setup(1) + head(48, 0) + win(0, 0, 3) + rec(0, 'baseX', 0x7FFFFFF0)
                           + rec(0, 'baseY', -0x7FFFFFF0) + bytes([26, 1, 11, 0, 0]) + PASS,
    'no_screen': setup(1) + bytes([30, 1]) + PASS + bytes([30, 0, 20]) + PASS,
}
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
