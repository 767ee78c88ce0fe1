#!/usr/bin/env bash
# Draws the viewer's pictures into resources/images with ImageMagick: the tool
# bar icons, the cross cursor and the no-signal picture. The PNGs are committed;
# run this only after changing a drawing. Icons are drawn at 4x on a 128 x 128
# canvas and reduced to 32 x 32 so their edges come out smooth.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=resources/images
mkdir -p "$OUT"

CONVERT=${CONVERT:-/usr/bin/convert}
FONT=${FONT:-/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf}

FG='#e6e9ef'     # strokes on the dark tool bar
ACCENT='#5fb3f3' # the one blue detail per icon
OK='#4cc47a'
BAD='#e05656'

# icon NAME SIZE DRAW...: strokes in FG, width 8 (2 px after reduction).
icon() {
  local name=$1 size=$2
  shift 2
  "$CONVERT" -size 128x128 xc:none -fill none -stroke "$FG" -strokewidth 8 \
    "$@" -resize "${size}x${size}" -strip "PNG32:$OUT/$name"
}

# Points of a gear outline around (cx, cy) with the given radii and teeth.
gear_points() {
  awk -v cx="$1" -v cy="$2" -v ro="$3" -v ri="$4" -v n="$5" 'BEGIN {
    pi = atan2(0, -1); s = "";
    for (i = 0; i < n; i++) {
      a0 = 2 * pi * i / n; w = pi / n;
      split((a0 - w * 0.55) " " (a0 - w * 0.30) " " (a0 + w * 0.30) " " (a0 + w * 0.55), a, " ");
      s = s sprintf("%.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f ",
        cx + ri * cos(a[1]), cy + ri * sin(a[1]), cx + ro * cos(a[2]), cy + ro * sin(a[2]),
        cx + ro * cos(a[3]), cy + ro * sin(a[3]), cx + ri * cos(a[4]), cy + ri * sin(a[4]));
      b = a0 + w; c = a0 + 2 * w - w * 0.55;
      s = s sprintf("%.1f,%.1f ", cx + ri * cos(b), cy + ri * sin(b));
    }
    print s;
  }'
}

# Full screen: four corner brackets.
icon fullscreen.png 32 \
  -draw "polyline 16,48 16,16 48,16" -draw "polyline 80,16 112,16 112,48" \
  -draw "polyline 112,80 112,112 80,112" -draw "polyline 48,112 16,112 16,80"

# Mouse alignment: a mouse whose pointer is driven into the top-left corner.
icon mouse.png 32 \
  -draw "roundrectangle 58,40 106,116 22,22" -draw "line 82,40 82,68" -draw "line 58,68 106,68" \
  -stroke "$ACCENT" -draw "line 16,16 44,44" -draw "polyline 16,38 16,16 38,16"

# Privilege: an open padlock (write) and a closed one (read only).
icon privCanGrab.png 32 \
  -draw "roundrectangle 24,60 104,116 10,10" \
  -draw "path 'M 40,60 L 40,30 A 24,24 0 0,1 88,30 L 88,38'" \
  -fill "$OK" -stroke none -draw "circle 64,86 64,76" -draw "rectangle 61,86 67,102"
icon privCannotGrab.png 32 \
  -draw "roundrectangle 24,60 104,116 10,10" \
  -draw "path 'M 40,60 L 40,40 A 24,24 0 0,1 88,40 L 88,60'" \
  -fill "$BAD" -stroke none -draw "circle 64,86 64,76" -draw "rectangle 61,86 67,102"

# Video settings: a monitor with two sliders.
icon videoset.png 32 \
  -draw "roundrectangle 12,20 116,92 8,8" -draw "line 64,92 64,110" -draw "line 40,112 88,112" \
  -draw "line 30,44 98,44" -draw "line 30,68 98,68" \
  -fill "$ACCENT" -stroke "$ACCENT" -draw "circle 50,44 50,36" -draw "circle 78,68 78,60"

# Virtual media: a USB stick.
icon uvset.png 32 \
  -draw "roundrectangle 36,52 92,120 10,10" -draw "rectangle 46,16 82,52" \
  -fill "$ACCENT" -stroke none -draw "rectangle 54,26 60,36" -draw "rectangle 68,26 74,36"

# Mouse hide/show: a pointer arrow, crossed out while a click would hide it.
ARROW="polygon 40,14 40,104 62,84 76,114 90,108 76,78 104,78"
icon mouseShow.png 32 -draw "$ARROW"
icon mouseHide.png 32 -draw "$ARROW" -stroke "$BAD" -draw "line 18,18 110,110"

# Key setting: a gear (32 for the tool bar, 16 for the key menu).
GEAR=$(gear_points 64 64 54 40 8)
icon setting.png 32 -draw "polygon $GEAR" -stroke "$ACCENT" -draw "circle 64,64 64,48"
icon setting_16px.png 16 -draw "polygon $GEAR" -stroke "$ACCENT" -draw "circle 64,64 64,48"

# Optimum resolution: a monitor with a diagonal double arrow.
icon optres.png 32 \
  -draw "roundrectangle 12,20 116,92 8,8" -draw "line 64,92 64,110" -draw "line 40,112 88,112" \
  -stroke "$ACCENT" -draw "line 38,76 90,36" -draw "polyline 38,60 38,76 54,76" \
  -draw "polyline 74,36 90,36 90,52"

# Key menu: a keyboard.
icon win.png 32 \
  -draw "roundrectangle 8,30 120,98 10,10" \
  -strokewidth 0 -stroke none -fill "$FG" \
  -draw "rectangle 22,44 32,54" -draw "rectangle 40,44 50,54" -draw "rectangle 58,44 68,54" \
  -draw "rectangle 76,44 86,54" -draw "rectangle 94,44 104,54" \
  -draw "rectangle 22,60 32,70" -draw "rectangle 40,60 50,70" -draw "rectangle 58,60 68,70" \
  -draw "rectangle 76,60 86,70" -draw "rectangle 94,60 104,70" \
  -fill "$ACCENT" -draw "rectangle 36,78 92,86"

# Cross cursor over the video: white lines with a dark rim, hot spot in the centre.
"$CONVERT" -size 33x33 xc:none -fill none \
  -stroke '#000000' -strokewidth 3 -draw "line 16,2 16,30" -draw "line 2,16 30,16" \
  -stroke '#ffffff' -strokewidth 1 -draw "line 16,3 16,29" -draw "line 3,16 29,16" \
  -strip "PNG32:$OUT/cross.png"

# No signal: 1366 x 768 dark grey with the words in white.
"$CONVERT" -size 1366x768 xc:'#2e2e2e' -font "$FONT" -pointsize 72 -fill white \
  -gravity center -annotate +0+0 'no signal' -strip "PNG24:$OUT/nosignal.png"

echo "pictures written to $OUT"
