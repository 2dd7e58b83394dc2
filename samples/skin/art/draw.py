#!/usr/bin/python3
"""Draws the images of the sample skin into the folder above this one.

Everything is computed (no input files besides the DejaVu fonts), and the only randomness comes
from a seeded generator, so the same images come out on every run:

    /usr/bin/python3 samples/skin/art/draw.py

Coordinates below are in the window panel's own space; the panel sits MARGIN pixels inside the
transparent canvas, which leaves room for the soft shadow around the rounded window.
"""
import math
import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.dirname(HERE)
FONTS = "/usr/share/fonts/truetype/dejavu"

MARGIN = 20
PANEL_W, PANEL_H = 880, 540
CANVAS_W, CANVAS_H = PANEL_W + 2 * MARGIN, PANEL_H + 2 * MARGIN
RADIUS = 16
SS = 4  # supersampling factor for smooth edges

GOLD_TOP, GOLD_BOTTOM = (243, 196, 90), (217, 142, 43)


def font(name, size):
    return ImageFont.truetype(os.path.join(FONTS, name), size)


def rgba(color, alpha=255):
    return tuple(color[:3]) + (alpha,)


def hex_color(text, alpha=255):
    text = text.lstrip("#")
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16), alpha)


def vertical_gradient(w, h, top, bottom):
    mask = Image.linear_gradient("L").resize((w, h))
    return Image.composite(Image.new("RGBA", (w, h), bottom), Image.new("RGBA", (w, h), top), mask)


def horizontal_gradient(w, h, left, right):
    mask = Image.linear_gradient("L").rotate(90, expand=True).resize((w, h))
    return Image.composite(Image.new("RGBA", (w, h), right), Image.new("RGBA", (w, h), left), mask)


def rounded_mask(w, h, r, inset=0):
    big = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(big).rounded_rectangle(
        (inset * SS, inset * SS, (w - inset) * SS - 1, (h - inset) * SS - 1), r * SS, fill=255)
    return big.resize((w, h), Image.LANCZOS)


def rounded_outline(w, h, r, color, width=1):
    """A smooth rounded-rectangle outline as an RGBA layer."""
    big = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(big).rounded_rectangle((0, 0, w * SS - 1, h * SS - 1), r * SS, outline=255,
                                          width=width * SS)
    alpha = big.resize((w, h), Image.LANCZOS).point(lambda v: v * color[3] // 255)
    solid = Image.new("RGBA", (w, h), rgba(color))
    solid.putalpha(alpha)
    return solid


def masked(image, mask):
    """`image` with its alpha multiplied by `mask`."""
    out = image.copy()
    out.putalpha(ImageChops.multiply(image.getchannel("A"), mask))
    return out


def over(base, layer, xy=(0, 0)):
    base.alpha_composite(layer, xy)


def fill_rounded(w, h, r, color):
    layer = Image.new("RGBA", (w, h), color if len(color) == 4 else rgba(color))
    return masked(layer, rounded_mask(w, h, r)) if r else layer


def text_layer(size, text, fnt, color, anchor_xy, anchor="la", spacing=0):
    """Text drawn on a transparent layer of `size`; `spacing` adds pixels between letters."""
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(layer)
    if spacing == 0:
        draw.text(anchor_xy, text, font=fnt, fill=color, anchor=anchor)
        return layer
    widths = [fnt.getlength(c) for c in text]
    total = sum(widths) + spacing * (len(text) - 1)
    x, y = anchor_xy
    if anchor[0] == "m":
        x -= total / 2
    for c, w in zip(text, widths):
        draw.text((x, y), c, font=fnt, fill=color, anchor="l" + anchor[1])
        x += w + spacing
    return layer


def gradient_text(size, text, fnt, xy, top, bottom, anchor="la"):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).text(xy, text, font=fnt, fill=255, anchor=anchor)
    return masked(vertical_gradient(size[0], size[1], rgba(top), rgba(bottom)), mask)


def save(image, name):
    image.save(os.path.join(OUT, name), optimize=True)


# ---------------------------------------------------------------------------------------------
# The painted banner: a dusk landscape with a castle on a hill.

def ridge(width, base, waves, seed):
    rnd = random.Random(seed)
    phases = [rnd.uniform(0, math.tau) for _ in waves]
    points = []
    for x in range(width + 1):
        y = base
        for (amplitude, period), phase in zip(waves, phases):
            y += amplitude * math.sin(x / period + phase)
        points.append((x, y))
    return points


def landscape(w, h):
    sky = vertical_gradient(w, h, (24, 20, 52, 255), (116, 58, 92, 255))
    horizon = vertical_gradient(w, h, (116, 58, 92, 0), (246, 168, 92, 255))
    lower = Image.new("L", (w, h), 0)
    ImageDraw.Draw(lower).rectangle((0, int(h * 0.35), w, h), fill=255)
    lower = lower.filter(ImageFilter.GaussianBlur(30))
    sky.alpha_composite(masked(horizon, lower))

    stars = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(stars)
    rnd = random.Random(7)
    for _ in range(90):
        x, y = rnd.uniform(0, w), rnd.uniform(0, h * 0.45) ** 1.1
        a = int(rnd.uniform(60, 200) * (1 - y / (h * 0.6)))
        r = rnd.choice([0.6, 0.8, 1.1])
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(255, 240, 220, max(a, 0)))
    sky.alpha_composite(stars)

    sun_x, sun_y = int(w * 0.7), int(h * 0.62)
    glow = Image.new("L", (w, h), 0)
    ImageDraw.Draw(glow).ellipse((sun_x - 70, sun_y - 70, sun_x + 70, sun_y + 70), fill=200)
    glow = glow.filter(ImageFilter.GaussianBlur(40))
    sky.alpha_composite(masked(Image.new("RGBA", (w, h), (255, 214, 150, 255)), glow))
    disc = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(disc).ellipse(((sun_x - 22) * SS, (sun_y - 22) * SS, (sun_x + 22) * SS,
                                  (sun_y + 22) * SS), fill=235)
    disc = disc.resize((w, h), Image.LANCZOS)
    sky.alpha_composite(masked(Image.new("RGBA", (w, h), (255, 236, 196, 255)), disc))

    layers = [
        (h * 0.62, [(14, 60), (8, 23), (3, 9)], 11, (120, 70, 110), 0.55),
        (h * 0.72, [(18, 80), (7, 31), (3, 11)], 12, (74, 44, 82), 0.8),
        (h * 0.86, [(10, 110), (6, 37), (2, 13)], 13, (30, 22, 42), 1.0),
    ]
    castle_x = int(w * 0.24)
    for index, (base, waves, seed, color, alpha) in enumerate(layers):
        points = ridge(w, base, waves, seed)
        if index == 2:
            # A hill for the castle to stand on; the hill's own top hides the castle's base.
            points = [(x, y - 38 * math.exp(-((x - castle_x) / 80.0) ** 2)) for x, y in points]
            hilltop = min(y for x, y in points[castle_x - 50:castle_x + 51])
            sky.alpha_composite(castle(w, h, castle_x, int(hilltop) + 6))
        shape = Image.new("L", (w * SS, h * SS), 0)
        ImageDraw.Draw(shape).polygon([(x * SS, y * SS) for x, y in points] +
                                      [(w * SS, h * SS), (0, h * SS)], fill=int(255 * alpha))
        shape = shape.resize((w, h), Image.LANCZOS)
        top = rgba(tuple(min(255, c + 26) for c in color))
        sky.alpha_composite(masked(vertical_gradient(w, h, top, rgba(color)), shape))
        if index < 2:
            mist = Image.new("L", (w, h), 0)
            ImageDraw.Draw(mist).rectangle((0, int(base + 10), w, int(base + 40)), fill=70)
            mist = mist.filter(ImageFilter.GaussianBlur(14))
            sky.alpha_composite(masked(Image.new("RGBA", (w, h), (250, 190, 160, 255)), mist))

    return sky


def castle(w, h, cx, ground):
    layer = Image.new("L", (w * SS, h * SS), 0)
    draw = ImageDraw.Draw(layer)

    def rect(x0, y0, x1, y1):
        draw.rectangle((x0 * SS, y0 * SS, x1 * SS, y1 * SS), fill=255)

    def tower(x, width, height, roof):
        top = ground - height
        rect(x - width / 2, top, x + width / 2, ground + 30)
        if roof:
            draw.polygon([((x - width / 2 - 3) * SS, top * SS),
                          ((x + width / 2 + 3) * SS, top * SS),
                          (x * SS, (top - roof) * SS)], fill=255)
        else:
            for i in range(int(width // 4) + 1):
                if i % 2 == 0:
                    rect(x - width / 2 + i * 4, top - 4, x - width / 2 + i * 4 + 3, top)

    rect(cx - 52, ground - 30, cx + 52, ground + 30)
    for i in range(14):
        if i % 2 == 0:
            rect(cx - 52 + i * 8, ground - 35, cx - 52 + i * 8 + 5, ground - 30)
    tower(cx - 50, 16, 46, 16)
    tower(cx + 50, 16, 42, 14)
    tower(cx - 14, 20, 66, 24)
    tower(cx + 18, 14, 54, 0)
    silhouette = layer.resize((w, h), Image.LANCZOS)
    out = masked(Image.new("RGBA", (w, h), (22, 16, 32, 255)), silhouette)
    lights = ImageDraw.Draw(out)
    for x, y in [(cx - 14, ground - 50), (cx - 14, ground - 36), (cx - 50, ground - 30),
                 (cx + 50, ground - 26), (cx + 18, ground - 40), (cx + 4, ground - 16),
                 (cx - 30, ground - 14)]:
        lights.rectangle((x - 1, y - 2, x + 1, y + 2), fill=(255, 196, 110, 230))
    return out


# ---------------------------------------------------------------------------------------------
# The window background.

def card(w, h):
    layer = fill_rounded(w, h, 10, hex_color("121722"))
    over(layer, rounded_outline(w, h, 10, hex_color("262e40")))
    return layer


def emblem(size):
    big = Image.new("RGBA", (size * SS, size * SS), (0, 0, 0, 0))
    draw = ImageDraw.Draw(big)
    c, r = size * SS / 2, size * SS / 2 - 1
    outer = [(c, c - r), (c + r, c), (c, c + r), (c - r, c)]
    mask = Image.new("L", big.size, 0)
    ImageDraw.Draw(mask).polygon(outer, fill=255)
    gold = vertical_gradient(big.width, big.height, rgba((255, 222, 140)), rgba(GOLD_BOTTOM))
    big = masked(gold, mask)
    draw = ImageDraw.Draw(big)
    ri = r * 0.58
    draw.polygon([(c, c - ri), (c + ri, c), (c, c + ri), (c - ri, c)], fill=(22, 26, 36, 255))
    rs = r * 0.22
    draw.polygon([(c, c - rs), (c + rs, c), (c, c + rs), (c - rs, c)], fill=(255, 214, 120, 255))
    return big.resize((size, size), Image.LANCZOS)


def background():
    canvas = Image.new("RGBA", (CANVAS_W, CANVAS_H), (0, 0, 0, 0))

    shadow_mask = Image.new("L", (CANVAS_W, CANVAS_H), 0)
    shadow_mask.paste(rounded_mask(PANEL_W, PANEL_H, RADIUS), (MARGIN, MARGIN + 5))
    shadow_mask = shadow_mask.filter(ImageFilter.GaussianBlur(9)).point(lambda v: v * 150 // 255)
    canvas.alpha_composite(masked(Image.new("RGBA", canvas.size, (0, 0, 0, 255)), shadow_mask))

    panel = vertical_gradient(PANEL_W, PANEL_H, hex_color("171c28"), hex_color("0d1016"))
    over(panel, vertical_gradient(PANEL_W, 56, hex_color("1d2332"), hex_color("161b27")))
    draw = ImageDraw.Draw(panel)
    draw.line((0, 56, PANEL_W, 56), fill=hex_color("0a0c11"))
    draw.line((0, 57, PANEL_W, 57), fill=hex_color("242b3a"))
    over(panel, vertical_gradient(PANEL_W, PANEL_H - 448, hex_color("10141c"), hex_color("0b0e13")),
         (0, 448))
    draw.line((0, 447, PANEL_W, 447), fill=hex_color("242b3a"))
    draw.line((0, 448, PANEL_W, 448), fill=hex_color("07090d"))

    # Title: emblem and word mark.
    over(panel, emblem(34), (22, 11))
    over(panel, gradient_text((240, 56), "DRASKEL", font("DejaVuSerif-Bold.ttf", 23), (64, 8),
                              (255, 226, 150), GOLD_BOTTOM))
    over(panel, text_layer((240, 56), "ONLINE", font("DejaVuSans-Bold.ttf", 8),
                           hex_color("8b93a7"), (65, 37), spacing=4))

    # The banner picture with a darkening towards its caption.
    hero_w, hero_h = 560, 200
    hero = landscape(hero_w, hero_h)
    shade = vertical_gradient(hero_w, 120, (8, 10, 16, 0), (8, 10, 16, 225))
    over(hero, shade, (0, hero_h - 120))
    hero = masked(hero, rounded_mask(hero_w, hero_h, 10))
    over(hero, rounded_outline(hero_w, hero_h, 10, (255, 255, 255, 28)))
    over(panel, hero, (24, 72))

    # The web page's area: a recessed well the embedded browser covers.
    well = fill_rounded(560, 152, 10, hex_color("0a0d13"))
    over(well, rounded_outline(560, 152, 10, hex_color("222938")))
    over(panel, well, (24, 284))

    # Server state and news on the right.
    over(panel, card(256, 80), (600, 72))
    news = card(256, 272)
    news_draw = ImageDraw.Draw(news)
    for y in (112, 184):
        news_draw.line((16, y, 240, y), fill=hex_color("1f2533"))
    over(panel, news, (600, 164))

    panel = masked(panel, rounded_mask(PANEL_W, PANEL_H, RADIUS))
    over(panel, rounded_outline(PANEL_W, PANEL_H, RADIUS, hex_color("2b3346")))
    highlight = rounded_outline(PANEL_W - 2, PANEL_H - 2, RADIUS - 1, (255, 255, 255, 16))
    over(panel, highlight, (1, 1))
    canvas.alpha_composite(panel, (MARGIN, MARGIN))
    return canvas


# ---------------------------------------------------------------------------------------------
# Buttons: each in four states (up, on = hover, dn = pressed, ds = disabled).

def start_button(state):
    w, h = 192, 60
    colors = {
        "up": (GOLD_TOP, GOLD_BOTTOM, (42, 26, 6)),
        "on": ((255, 216, 118), (236, 162, 58), (42, 26, 6)),
        "dn": ((214, 160, 62), (184, 116, 31), (36, 22, 4)),
        "ds": ((60, 65, 78), (44, 48, 58), (108, 114, 128)),
    }[state]
    top, bottom, ink = colors
    layer = masked(vertical_gradient(w, h, rgba(top), rgba(bottom)), rounded_mask(w, h, 10))
    over(layer, rounded_outline(w, h, 10, (255, 255, 255, 70 if state != "ds" else 20)))
    border = (120, 76, 20, 255) if state != "ds" else (36, 40, 50, 255)
    over(layer, rounded_outline(w, h, 10, border))
    shift = 1 if state == "dn" else 0
    label = font("DejaVuSans-Bold.ttf", 20)
    tri = Image.new("L", (w * SS, h * SS), 0)
    tx, ty = 58, h / 2 + shift
    ImageDraw.Draw(tri).polygon([((tx - 7) * SS, (ty - 9) * SS), ((tx + 8) * SS, ty * SS),
                                 ((tx - 7) * SS, (ty + 9) * SS)], fill=255)
    over(layer, masked(Image.new("RGBA", (w, h), rgba(ink)), tri.resize((w, h), Image.LANCZOS)))
    if state != "ds":
        over(layer, text_layer((w, h), "OYNA", label, (255, 255, 255, 70),
                               (w / 2 + 14, h / 2 + 1 + shift), "mm", spacing=2))
    over(layer, text_layer((w, h), "OYNA", label, rgba(ink), (w / 2 + 14, h / 2 + shift), "mm",
                           spacing=2))
    return layer


def icon_glyph(kind, size, color):
    big = Image.new("L", (size * SS, size * SS), 0)
    draw = ImageDraw.Draw(big)
    c = size * SS / 2
    s = SS
    if kind == "exit":
        d = 5 * s
        draw.line((c - d, c - d, c + d, c + d), fill=255, width=int(2 * s))
        draw.line((c - d, c + d, c + d, c - d), fill=255, width=int(2 * s))
    elif kind == "minimize":
        draw.rectangle((c - 6 * s, c + 3 * s, c + 6 * s, c + 5 * s), fill=255)
    else:  # a gear
        teeth = 8
        for i in range(teeth):
            a = i * math.tau / teeth
            pts = []
            for da, r in ((-0.2, 5.5), (-0.14, 8.2), (0.14, 8.2), (0.2, 5.5)):
                pts.append((c + math.cos(a + da) * r * s, c + math.sin(a + da) * r * s))
            draw.polygon(pts, fill=255)
        draw.ellipse((c - 6.2 * s, c - 6.2 * s, c + 6.2 * s, c + 6.2 * s), fill=255)
        draw.ellipse((c - 2.6 * s, c - 2.6 * s, c + 2.6 * s, c + 2.6 * s), fill=0)
    mask = big.resize((size, size), Image.LANCZOS)
    return masked(Image.new("RGBA", (size, size), rgba(color)), mask)


def icon_button(kind, state):
    size = 32
    layer = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    danger = kind == "exit"
    if state == "on":
        over(layer, fill_rounded(size, size, 8, hex_color("c2413b" if danger else "283044")))
    elif state == "dn":
        over(layer, fill_rounded(size, size, 8, hex_color("9e322d" if danger else "1d2434")))
    glyph = {"up": hex_color("9aa3b5"), "on": hex_color("ffffff"), "dn": hex_color("e2e6ee"),
             "ds": hex_color("454c5c")}[state]
    over(layer, icon_glyph(kind, size, glyph))
    return layer


def link_button(label, state):
    w, h = 112, 28
    layer = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    fill, outline, ink = {
        "up": ((255, 255, 255, 8), hex_color("3a4458"), hex_color("c3cad8")),
        "on": (hex_color("232b3d"), hex_color("d9a640"), hex_color("ffffff")),
        "dn": (hex_color("1a2030"), hex_color("b48632"), hex_color("e0e4ec")),
        "ds": ((255, 255, 255, 4), hex_color("2a3140"), hex_color("555d6e")),
    }[state]
    over(layer, fill_rounded(w, h, 14, fill))
    over(layer, rounded_outline(w, h, 14, outline))
    shift = 1 if state == "dn" else 0
    over(layer, text_layer((w, h), label, font("DejaVuSans-Bold.ttf", 10), ink,
                           (w / 2, h / 2 + shift), "mm", spacing=1))
    return layer


def hover_plate(w, h, state, accent):
    """Invisible at rest, lit under the mouse: the click areas of the banner and the news rows.
    `accent` is "bar" for a gold bar on the left, "frame" for a gold outline."""
    layer = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    if state not in ("on", "dn"):
        return layer
    pressed = state == "dn"
    if accent == "frame":
        over(layer, fill_rounded(w, h, 10, (0, 0, 0, 40) if pressed else (255, 255, 255, 10)))
        gold = (180, 134, 50, 190) if pressed else (217, 166, 64, 190)
        over(layer, rounded_outline(w, h, 10, gold))
    else:
        over(layer, fill_rounded(w, h, 8, (255, 255, 255, 7 if pressed else 14)))
        bar = hex_color("b48632" if pressed else "d9a640")
        over(layer, fill_rounded(3, h - 20, 1, bar), (0, 10))
    return layer


# ---------------------------------------------------------------------------------------------
# Progress bars and the server-state dots.

def gauge(w, h, full, left=None, right=None):
    r = h // 2
    if not full:
        layer = fill_rounded(w, h, r, hex_color("1b2130"))
        inner = Image.new("RGBA", (w, h), (0, 0, 0, 0))
        ImageDraw.Draw(inner).line((r, 0, w - r, 0), fill=(0, 0, 0, 110))
        ImageDraw.Draw(inner).line((r, h - 1, w - r, h - 1), fill=(255, 255, 255, 18))
        over(layer, masked(inner, rounded_mask(w, h, r)))
        return layer
    layer = masked(horizontal_gradient(w, h, rgba(left), rgba(right)), rounded_mask(w, h, r))
    if h >= 6:
        shine = vertical_gradient(w, h // 2, (255, 255, 255, 90), (255, 255, 255, 0))
        shine_full = Image.new("RGBA", (w, h), (0, 0, 0, 0))
        shine_full.paste(shine, (0, 1))
        over(layer, masked(shine_full, rounded_mask(w, h, r)))
    return layer


def dot(color):
    size = 14
    glow = Image.new("L", (size, size), 0)
    ImageDraw.Draw(glow).ellipse((3, 3, 10, 10), fill=150)
    glow = glow.filter(ImageFilter.GaussianBlur(2))
    layer = masked(Image.new("RGBA", (size, size), rgba(color)), glow)
    core = Image.new("L", (size * SS, size * SS), 0)
    ImageDraw.Draw(core).ellipse((3.5 * SS, 3.5 * SS, 10.5 * SS, 10.5 * SS), fill=255)
    over(layer, masked(Image.new("RGBA", (size, size), rgba(color)),
                       core.resize((size, size), Image.LANCZOS)))
    return layer


def main():
    save(background(), "main.png")
    for state in ("up", "on", "dn", "ds"):
        save(start_button(state), f"start_{state}.png")
        for kind in ("exit", "minimize", "option"):
            save(icon_button(kind, state), f"{kind}_{state}.png")
        save(link_button("WEB SİTESİ", state), f"website_{state}.png")
        save(link_button("KAYIT OL", state), f"register_{state}.png")
        save(link_button("ONAR", state), f"repair_{state}.png")
        save(hover_plate(240, 68, state, "bar"), f"news_{state}.png")
        save(hover_plate(560, 200, state, "frame"), f"banner_{state}.png")
    save(gauge(600, 10, False), "progress_empty.png")
    save(gauge(600, 10, True, (217, 142, 43), (255, 214, 110)), "progress_full.png")
    save(gauge(600, 4, False), "progress_sub_empty.png")
    save(gauge(600, 4, True, (58, 160, 200), (127, 211, 240)), "progress_sub_full.png")
    save(dot((74, 222, 128)), "dot_on.png")
    save(dot((245, 185, 66)), "dot_busy.png")
    save(dot((138, 143, 152)), "dot_off.png")


if __name__ == "__main__":
    main()
