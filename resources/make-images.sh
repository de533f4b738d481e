#!/usr/bin/env bash
# Draws the main window's pictures and the tray icon into resources/. The results are kept in the
# repository; run this only to change them. Needs Debian's python3-pil and fonts-dejavu-core.
set -euo pipefail
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
import math
from PIL import Image, ImageDraw, ImageFont

BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
NAVY, STEEL, SKY, AMBER, WHITE, INK = (24, 48, 96), (70, 110, 160), (150, 200, 240), (240, 170, 40), (255, 255, 255), (20, 20, 30)


def monitor(d, x, y, w, h, frame=INK, screen=SKY):
    """A monitor on a stand; returns the screen's box."""
    d.rounded_rectangle([x, y, x + w, y + h], radius=max(2, w // 14), fill=frame)
    inner = [x + w // 12, y + w // 12, x + w - w // 12, y + h - w // 12]
    d.rectangle(inner, fill=screen)
    cx = x + w // 2
    d.polygon([(cx - w // 10, y + h), (cx + w // 10, y + h), (cx + w // 6, y + h + w // 6), (cx - w // 6, y + h + w // 6)], fill=frame)
    return inner


def clock(d, box, angle, face=WHITE, hand=NAVY):
    x0, y0, x1, y1 = box
    cx, cy, r = (x0 + x1) / 2, (y0 + y1) / 2, min(x1 - x0, y1 - y0) / 2 - 2
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=face, outline=hand, width=max(1, int(r // 8)))
    for k in range(12):
        a = math.radians(k * 30)
        d.line([(cx + 0.8 * r * math.sin(a), cy - 0.8 * r * math.cos(a)), (cx + 0.92 * r * math.sin(a), cy - 0.92 * r * math.cos(a))], fill=hand, width=1)
    a = math.radians(angle)
    d.line([(cx, cy), (cx + 0.75 * r * math.sin(a), cy - 0.75 * r * math.cos(a))], fill=AMBER, width=max(2, int(r // 6)))
    d.line([(cx, cy), (cx + 0.45 * r * math.sin(a / 12), cy - 0.45 * r * math.cos(a / 12))], fill=hand, width=max(2, int(r // 5)))


# Logo, 120 x 26: the name on a navy plate, a small monitor at the left.
logo = Image.new("RGB", (120, 26), NAVY)
d = ImageDraw.Draw(logo)
d.rectangle([0, 0, 119, 25], outline=STEEL)
monitor(d, 5, 4, 18, 13, frame=WHITE, screen=STEEL)
d.text((30, 3), "OSTREL", font=ImageFont.truetype(BOLD, 17), fill=WHITE)
d.line([(30, 22), (113, 22)], fill=AMBER, width=2)
logo.convert("P", palette=Image.ADAPTIVE, colors=32).save("logo.gif")

# Animation, 115 x 200 on a transparent ground: a monitor whose clock turns, coins dropping into a stack.
frames = []
count = 12
for i in range(count):
    img = Image.new("RGBA", (115, 200), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    screen = monitor(d, 8, 8, 99, 78, frame=NAVY)
    clock(d, screen, i * 360 / count)
    d.rounded_rectangle([12, 108, 103, 120], radius=3, fill=STEEL)  # keyboard
    for k in range(8):
        d.rectangle([16 + k * 11, 111, 22 + k * 11, 117], fill=SKY)
    stack = 3 + i // 3
    for k in range(stack):
        yy = 190 - k * 6
        d.ellipse([38, yy - 4, 78, yy + 4], fill=AMBER, outline=(160, 100, 10))
    fall = 128 + (i % 3) * 14
    d.ellipse([48, fall - 4, 68, fall + 4], fill=AMBER, outline=(160, 100, 10))
    frames.append(img)

def to_gif(rgba):
    p = rgba.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=63)
    mask = rgba.getchannel("A").point(lambda a: 255 if a < 128 else 0)
    p.paste(63, mask=mask)  # index 63 is the transparent colour
    return p

gif = [to_gif(f) for f in frames]
gif[0].save("animation.gif", save_all=True, append_images=gif[1:], duration=150, loop=0, transparency=63, disposal=2, optimize=False)

# Tray icon, 32 x 32 PNG with alpha.
icon = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
d = ImageDraw.Draw(icon)
screen = monitor(d, 2, 2, 28, 21, frame=NAVY)
clock(d, screen, 60)
icon.save("tray.png")
PY
