#!/usr/bin/env python3
"""Draws Tarvel's own pictures as XPM files and writes the resource list tarvel.qrc.

Run from anywhere: python3 resources/make_pictures.py
The results are committed; the build only reads them (Qt reads XPM without extra modules).

Pictures:
  symbole/NN      the 62 class icons (16x16) of the list views, by table position
  stop, go        32x32 octagons, with grey variants for the disabled buttons
  benutzer        three people, for the user view button and menu item
  computer        a computer, for the workstation view button and menu item
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "pictures")

PALETTE = {
    ".": None,
    "k": (0x00, 0x00, 0x00),
    "w": (0xFF, 0xFF, 0xFF),
    "g": (0xC0, 0xC0, 0xC0),
    "G": (0x80, 0x80, 0x80),
    "y": (0xFF, 0xE0, 0x20),
    "Y": (0xC0, 0x90, 0x00),
    "r": (0xE0, 0x10, 0x10),
    "R": (0x80, 0x00, 0x00),
    "n": (0x10, 0xB0, 0x30),
    "N": (0x00, 0x60, 0x10),
    "b": (0x30, 0x60, 0xE0),
    "B": (0x00, 0x20, 0x80),
    "c": (0x60, 0xD0, 0xF0),
    "s": (0xF0, 0xC8, 0xA0),
    "o": (0xF0, 0x80, 0x10),
}

# ---- 16x16 class icons ---------------------------------------------------------------------

UP = """
................
.......kk.......
......kyyk......
.....kyyyyk.....
....kyyyyyyk....
...kkkyyyykkk...
.....kyyyyk.....
.....kyyyyk.....
.....kyyyyk.....
.....kyyyykkkk..
.....kyyyyyyyyk.
......kYYYYYYYk.
.......kkkkkkk..
................
.kk..kk.........
.kk..kk.........
"""

UNKNOWN = """
................
.......kkkkkkkk.
.......kwwwwwwk.
.......kwwkkkwk.
.......kwkwwwkk.
.......kwwwwwkk.
...k...kwwwwkwk.
...kk..kwwwkwwk.
kkkkkk.kwwwkwwk.
...kk..kwwwwwwk.
...k...kwwwkwwk.
.......kwwwwwwk.
.......kkkkkkkk.
................
................
................
"""

COUNTRY = """
................
.k..............
.krrrr..........
.krrrrr...k.....
.krrrr....kbbbb.
.k........kbbbbb
.k........kbbbb.
.k........k.....
.k........k.....
.k........k.....
.k........k.....
.k........k.....
.k........k.....
kkk......kkk....
................
................
"""

GROUP = """
................
................
......kkk.......
.....kssskk.....
.kk..kssskk..kk.
kssk.kssskk.kssk
kssk..kkk...kssk
kssk.kbbbbk.kssk
.kk.kbbbbbbk.kk.
.kkkbbbbbbbbkkk.
knnkbbbbbbbbkrrk
knnkbbbbbbbbkrrk
knnkbbbbbbbbkrrk
kkkkkkkkkkkkkkkk
................
................
"""

ORG_CHART = """
................
.....kkkkkk.....
.....kyyyyk.....
.....kyyyyk.....
.....kkkkkk.....
.......kk.......
.......kk.......
..kkkkkkkkkkkk..
..k....kk....k..
..k....kk....k..
kkkkk.kkkk.kkkkk
kyyyk.kyyk.kyyyk
kyyyk.kyyk.kyyyk
kkkkk.kkkk.kkkkk
................
................
"""

OU = """
................
kkkkkkk.........
kyyyyyk.........
kyyyyyk.........
kkkkkkk.........
...k............
...k....kkkkkk..
...kkkkkkbbbbk..
...k....kkkkkk..
...k............
...k....kkkkkk..
...kkkkkkbbbbk..
...k....kkkkkk..
...k............
...k....kkkkkk..
...kkkkkkbbbbk..
"""

USER = """
................
......kkkk......
.....kssssk.....
.....kssssk.....
.....kssssk.....
......kkkk......
.....kbbbbk.....
....kbbbbbbk....
...kbbbbbbbbk...
...kbbbbbbbbk...
...kbbbbbbbbk...
...kbbbbbbbbk...
...kkkkkkkkkk...
................
................
................
"""

COMPUTER = """
................
..kkkkkkkkkkkk..
..kggggggggggk..
..kgbbbbbbbbgk..
..kgbccbbbbbgk..
..kgbcbbbbbbgk..
..kgbbbbbbbbgk..
..kgbbbbbbbbgk..
..kggggggggggk..
..kkkkkkkkkkkk..
......kggk......
....kkkkkkkk....
.kkkkkkkkkkkkkk.
.kggggggggGnggk.
.kkkkkkkkkkkkkk.
................
"""

NEUTRAL = """
................
................
....kkkkkkkk....
...kwwwwwwwkk...
..kwwwwwwwkgk...
..kkkkkkkkggk...
..kgggggggkgk...
..kgggggggkgk...
..kgggggggkgk...
..kgggggggkgk...
..kgggggggkk....
..kkkkkkkkk.....
................
................
................
................
"""

SYMBOLS = {0: ("up", UP), 1: ("unknown", UNKNOWN), 10: ("country", COUNTRY), 14: ("group", GROUP),
           29: ("organization", ORG_CHART), 31: ("orgunit", OU), 45: ("user", USER),
           50: ("workstation", COMPUTER)}
SYMBOL_COUNT = 62


def parse(art, size):
    rows = [r for r in art.strip("\n").split("\n")]
    assert len(rows) == size, (len(rows), art)
    for r in rows:
        assert len(r) == size, (r, art)
        for ch in r:
            assert ch in PALETTE, ch
    return [[PALETTE[ch] for ch in r] for r in rows]


# ---- 32x32 octagons ---------------------------------------------------------------------------

GLYPHS = {
    "S": [".###.", "#...#", "#....", ".###.", "....#", "#...#", ".###."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
}


def octagon(fill, text, scale):
    n = 32
    cut = 9
    px = [[None] * n for _ in range(n)]

    def inside(x, y, inset):
        lo, hi = inset, n - 1 - inset
        c = cut - inset * 0.4
        if x < lo or x > hi or y < lo or y > hi:
            return False
        return (x - lo) + (y - lo) >= c and (hi - x) + (y - lo) >= c and \
            (x - lo) + (hi - y) >= c and (hi - x) + (hi - y) >= c

    for y in range(n):
        for x in range(n):
            if inside(x, y, 0):
                px[y][x] = (0x20, 0x20, 0x20)
            if inside(x, y, 1):
                px[y][x] = (0xFF, 0xFF, 0xFF)
            if inside(x, y, 3):
                px[y][x] = fill
    width = (len(text) * 5 + (len(text) - 1)) * scale
    height = 7 * scale
    x0 = (n - width) // 2
    y0 = (n - height) // 2
    for i, ch in enumerate(text):
        for gy, row in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(row):
                if bit != "#":
                    continue
                for sy in range(scale):
                    for sx in range(scale):
                        px[y0 + gy * scale + sy][x0 + (i * 6 + gx) * scale + sx] = (0xFF, 0xFF, 0xFF)
    return px


def greyed(px):
    """The disabled look: the picture in light greys."""
    out = []
    for row in px:
        r2 = []
        for c in row:
            if c is None:
                r2.append(None)
            else:
                lum = int(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2])
                v = 0x90 + lum * 0x60 // 0xFF
                r2.append((v, v, v))
        out.append(r2)
    return out


# ---- XPM writer -------------------------------------------------------------------------------

CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=@"


def write_xpm(name, px):
    colours = []
    for row in px:
        for c in row:
            if c not in colours:
                colours.append(c)
    assert len(colours) <= len(CHARS) + 1
    code = {}
    lines = []
    k = 0
    for c in colours:
        if c is None:
            code[c] = " "
            lines.append('" \tc None"')
        else:
            code[c] = CHARS[k]
            k += 1
            lines.append('"%s\tc #%02X%02X%02X"' % (code[c], *c))
    h = len(px)
    w = len(px[0])
    ident = name.replace("-", "_").replace("/", "_")
    body = ['"%d %d %d 1"' % (w, h, len(colours))] + lines + \
        ['"' + "".join(code[c] for c in row) + '"' for row in px]
    text = "/* XPM */\nstatic const char *" + ident + "[] = {\n" + ",\n".join(body) + "\n};\n"
    with open(os.path.join(OUT, name + ".xpm"), "w", newline="\n") as f:
        f.write(text)


def main():
    os.makedirs(OUT, exist_ok=True)
    for _, (name, art) in SYMBOLS.items():
        write_xpm("symbol-" + name, parse(art, 16))
    write_xpm("symbol-neutral", parse(NEUTRAL, 16))
    write_xpm("benutzer", parse(GROUP, 16))
    write_xpm("computer", parse(COMPUTER, 16))
    stop = octagon((0xD0, 0x10, 0x10), "STOP", 1)
    go = octagon((0x10, 0xA0, 0x30), "GO", 2)
    write_xpm("stop", stop)
    write_xpm("stop-disabled", greyed(stop))
    write_xpm("go", go)
    write_xpm("go-disabled", greyed(go))

    entries = []
    for i in range(SYMBOL_COUNT):
        name = SYMBOLS[i][0] if i in SYMBOLS else "neutral"
        entries.append('    <file alias="symbole/%02d.xpm">pictures/symbol-%s.xpm</file>' % (i, name))
    for name in ("benutzer", "computer", "stop", "stop-disabled", "go", "go-disabled"):
        entries.append('    <file alias="%s.xpm">pictures/%s.xpm</file>' % (name, name))
    qrc = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/tarvel\">\n" + \
        "\n".join(entries) + "\n  </qresource>\n</RCC>\n"
    with open(os.path.join(HERE, "tarvel.qrc"), "w", newline="\n") as f:
        f.write(qrc)


if __name__ == "__main__":
    main()
