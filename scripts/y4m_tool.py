#!/usr/bin/env python3
"""Small helpers for the README's denoising pictures (standard library only).

  y4m_tool.py noise IN.y4m OUT.y4m SIGMA SEED   adds Gaussian noise to every sample
  y4m_tool.py frame IN.y4m N OUT.png            writes frame N as an RGB PNG
                                                (BT.601 limited range, 4:4:4 only)
"""
import random
import struct
import sys
import zlib


def read_y4m(path):
    data = open(path, 'rb').read()
    end = data.index(b'\n')
    header = data[:end].decode()
    params = {p[0]: p[1:] for p in header.split()[1:]}
    w, h = int(params['W']), int(params['H'])
    if params.get('C', '420jpeg') != '444':
        sys.exit('only 4:4:4 streams')
    frames, pos, size = [], end + 1, 3 * w * h
    while pos < len(data):
        line_end = data.index(b'\n', pos)
        frames.append((data[pos:line_end + 1], bytearray(data[line_end + 1:line_end + 1 + size])))
        pos = line_end + 1 + size
    return data[:end + 1], w, h, frames


def noise(src, dst, sigma, seed):
    header, _, _, frames = read_y4m(src)
    rng = random.Random(seed)
    with open(dst, 'wb') as out:
        out.write(header)
        for line, plane in frames:
            for i, v in enumerate(plane):
                plane[i] = max(0, min(255, round(v + rng.gauss(0, sigma))))
            out.write(line + bytes(plane))


def frame_png(src, n, dst):
    _, w, h, frames = read_y4m(src)
    plane = frames[n][1]
    rows = []
    for y in range(h):
        row = bytearray([0])
        for x in range(w):
            i = y * w + x
            c, d, e = plane[i] - 16, plane[w * h + i] - 128, plane[2 * w * h + i] - 128
            rgb = (1.164 * c + 1.596 * e, 1.164 * c - 0.392 * d - 0.813 * e, 1.164 * c + 2.017 * d)
            row += bytes(max(0, min(255, round(v))) for v in rgb)
        rows.append(bytes(row))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
    open(dst, 'wb').write(png)


if __name__ == '__main__':
    if len(sys.argv) == 6 and sys.argv[1] == 'noise':
        noise(sys.argv[2], sys.argv[3], float(sys.argv[4]), int(sys.argv[5]))
    elif len(sys.argv) == 5 and sys.argv[1] == 'frame':
        frame_png(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    else:
        sys.exit(__doc__)
