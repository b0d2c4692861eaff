#!/usr/bin/env bash
# Generates the installer's artwork into src/resources/:
#   quorvel.ico          application icon: 16, 24, 32, 48, 64, 128 px as 32-bit BMP entries, 256 px as PNG
#   brand.png            48x48 brand mark (title row, shown at 24x24 at 96 DPI)
#   product.png          192x192 product logo (shown at 96x96 at 96 DPI)
#   slide1..4.png        700x400 feature illustrations for the install banner (#DCEDFB)
#
# The logo is drawn here from a small set of numbers per size: the 16, 24 and 32 px
# images use their own pixel-snapped geometry and a filled arrow head, so they stay crisp
# instead of being shrunk from the large drawing. The slides are SVG files in tools/artwork/.
#
# Output is deterministic: no time stamps or other metadata are written into the PNGs.
#
# Usage: tools/make-artwork.sh [--sheet FILE.png]   (--sheet also writes a preview contact sheet)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
art="$here/artwork"
out="$root/src/resources"
sheet=""

while [ $# -gt 0 ]; do
  case "$1" in
    --sheet) sheet=${2:?--sheet needs a file name}; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "make-artwork: unknown argument: $1" >&2; exit 2 ;;
  esac
done

# ---- tools -----------------------------------------------------------------------------
need_pkgs=()
command -v rsvg-convert >/dev/null 2>&1 || need_pkgs+=(librsvg2-bin)
[ -x /usr/bin/convert ] && [ -x /usr/bin/identify ] || need_pkgs+=(imagemagick)
command -v zopflipng >/dev/null 2>&1 || need_pkgs+=(zopfli)
if [ ${#need_pkgs[@]} -gt 0 ]; then
  echo "make-artwork: installing ${need_pkgs[*]}" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null
fi
CONVERT=/usr/bin/convert
IDENTIFY=/usr/bin/identify

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Writes an 8-bit RGBA PNG without time stamps or text chunks.
png32() { # IN OUT
  "$CONVERT" "$1" -strip +set date:create +set date:modify \
    -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt \
    -define png:compression-level=9 -define png:compression-filter=5 -define png:compression-strategy=1 \
    "PNG32:$2"
}

calc() { awk "BEGIN{print $1}"; }

# ---- the logo ------------------------------------------------------------------------
# A rounded orange tile with a white "Q": the ring is the bowl and a download arrow is the
# tail, cut out of the ring by a thin gap of tile colour.
#
# logo_svg SIZE VIEW  TX TY TW RX  CX CY R SW  SX ST TIP HW AW GAP SHADOW HEAD
#   VIEW           the drawing's coordinate range (SIZE for the pixel-tuned sizes, 256 otherwise)
#   TX TY TW RX    tile origin, width and corner radius
#   CX CY R SW     ring centre, radius and stroke width
#   SX ST TIP      arrow shaft x, shaft top, arrow tip y
#   HW AW          half width of the arrow head, stroke width of the arrow
#   GAP            width of the cut between arrow and ring (0: none)
#   SHADOW         soft shadow under the letter, in VIEW units (0: none)
#   HEAD           chevron (stroked head) or tri (filled triangle, for small sizes)
logo_svg() {
  local size=$1 view=$2 tx=$3 ty=$4 tw=$5 rx=$6 cx=$7 cy=$8 r=$9 sw=${10}
  local sx=${11} st=${12} tip=${13} hw=${14} aw=${15} gap=${16} shadow=${17} head=${18}
  local arrow headpath="" base left right
  base=$(calc "$tip-$hw"); left=$(calc "$sx-$hw"); right=$(calc "$sx+$hw")
  if [ "$head" = chevron ]; then
    arrow="M$sx $st V$tip M$left $base L$sx $tip L$right $base"
  else
    arrow="M$sx $st V$base"
    headpath="M$left $base H$right L$sx $tip Z"
  fi
  cat <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="$size" height="$size" viewBox="0 0 $view $view">
<defs>
<linearGradient id="tile" gradientUnits="userSpaceOnUse" x1="0" y1="$ty" x2="0" y2="$(calc "$ty+$tw")">
<stop offset="0" stop-color="#FFB447"/><stop offset="1" stop-color="#FF8A00"/></linearGradient>
<filter id="sh" x="-20%" y="-20%" width="140%" height="140%"><feGaussianBlur stdDeviation="$shadow"/>
<feOffset dy="$shadow"/><feComponentTransfer><feFuncA type="linear" slope="0.28"/></feComponentTransfer></filter>
</defs>
<rect x="$tx" y="$ty" width="$tw" height="$tw" rx="$rx" fill="url(#tile)"/>
SVG
  if [ "$shadow" != 0 ]; then
    echo "<g filter=\"url(#sh)\" fill=\"none\" stroke=\"#A04C00\" stroke-linecap=\"round\" stroke-linejoin=\"round\">"
    echo "<circle cx=\"$cx\" cy=\"$cy\" r=\"$r\" stroke-width=\"$sw\"/><path d=\"$arrow\" stroke-width=\"$aw\"/></g>"
  fi
  echo "<circle cx=\"$cx\" cy=\"$cy\" r=\"$r\" fill=\"none\" stroke=\"#FFFFFF\" stroke-width=\"$sw\"/>"
  if [ "$gap" != 0 ]; then
    echo "<path d=\"$arrow\" fill=\"none\" stroke=\"url(#tile)\" stroke-width=\"$(calc "$aw+2*$gap")\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>"
    [ -z "$headpath" ] || echo "<path d=\"$headpath\" fill=\"url(#tile)\" stroke=\"url(#tile)\" stroke-width=\"$(calc "2*$gap")\" stroke-linejoin=\"round\"/>"
  fi
  echo "<path d=\"$arrow\" fill=\"none\" stroke=\"#FFFFFF\" stroke-width=\"$aw\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>"
  [ -z "$headpath" ] || echo "<path d=\"$headpath\" fill=\"#FFFFFF\"/>"
  echo "</svg>"
}

# Geometry per size. Small sizes: whole-pixel (or half-pixel for odd strokes) positions so
# the ring's outer edges and the shaft fall on pixel boundaries; 48 and 64 use heavier
# strokes than the large drawing so the letter holds up when shown at half size.
#               VIEW TX TY TW  RX   CX   CY   R    SW  SX   ST  TIP HW  AW  GAP  SHADOW HEAD
logo_geometry() {
  case "$1" in
    16)  echo "16   0  0  16  3.5  7    7    4    2   11   7.5 15  3.5 2   1    0      tri" ;;
    24)  echo "24   1  1  22  5    10.5 10.5 6    3   15.5 10  22  5   3   1    0      tri" ;;
    32)  echo "32   1  1  30  7    14.5 13.5 8.5  4   20.5 14  29  6.5 4   1.5  0      tri" ;;
    48|64)
         echo "256  8  8  240 56   121  108  66   30  171  132 214 32  30  9    0      chevron" ;;
    *)   echo "256  8  8  240 56   121  108  66   26  171  132 214 30  26  8    3      chevron" ;;
  esac
}

render_logo() { # SIZE OUT.png
  local size=$1
  # shellcheck disable=SC2046  # the geometry is a list of numbers, split on purpose
  logo_svg "$size" $(logo_geometry "$size") > "$tmp/logo$size.svg"
  rsvg-convert -w "$size" -h "$size" "$tmp/logo$size.svg" -o "$tmp/logo$size.raw.png"
  png32 "$tmp/logo$size.raw.png" "$2"
}

sizes=(16 24 32 48 64 128 256)
for s in "${sizes[@]}"; do render_logo "$s" "$tmp/icon$s.png"; done
render_logo 192 "$tmp/product.png"

# ---- the icon -------------------------------------------------------------------------
# ImageMagick stores images of 256 px as PNG inside an ICO and the smaller ones as
# 32-bit BMP (DIB with an AND mask) when they carry an alpha channel; the check below
# reads the ICO directory back and fails if that ever changes.
ico_list=()
for s in "${sizes[@]}"; do ico_list+=("$tmp/icon$s.png"); done
"$CONVERT" "${ico_list[@]}" -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt "$tmp/quorvel.ico"

u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
u8()  { od -An -t u1 -j "$2" -N 1 "$1" | tr -d ' '; }
check_ico() { # FILE: prints one line per entry, fails on any deviation
  local f=$1 n i e w bpp len off sig want=(16 24 32 48 64 128 256)
  [ "$(u16 "$f" 0)" = 0 ] && [ "$(u16 "$f" 2)" = 1 ] || { echo "not an icon file: $f" >&2; return 1; }
  n=$(u16 "$f" 4)
  [ "$n" = 7 ] || { echo "icon has $n images, expected 7" >&2; return 1; }
  for ((i = 0; i < n; i++)); do
    e=$((6 + 16 * i))
    w=$(u8 "$f" "$e"); [ "$w" = 0 ] && w=256
    bpp=$(u16 "$f" $((e + 6))); len=$(u32 "$f" $((e + 8))); off=$(u32 "$f" $((e + 12)))
    sig=$(od -An -t x1 -j "$off" -N 8 "$f" | tr -d ' \n')
    [ "$w" = "${want[$i]}" ] || { echo "entry $i is $w px, expected ${want[$i]}" >&2; return 1; }
    [ "$bpp" = 32 ] || { echo "entry $i ($w px) has $bpp bpp in the directory" >&2; return 1; }
    if [ "$w" = 256 ]; then
      [ "$sig" = 89504e470d0a1a0a ] || { echo "256 px entry is not PNG" >&2; return 1; }
      # IHDR: bit depth 8, colour type 6 (RGBA)
      [ "$(u8 "$f" $((off + 24)))" = 8 ] && [ "$(u8 "$f" $((off + 25)))" = 6 ] \
        || { echo "256 px PNG is not 8-bit RGBA" >&2; return 1; }
      echo "  entry $i: ${w}x${w} PNG RGBA, $len bytes"
    else
      [ "$(u32 "$f" "$off")" = 40 ] || { echo "entry $i ($w px) is not a BMP (DIB) image" >&2; return 1; }
      [ "$(u16 "$f" $((off + 14)))" = 32 ] || { echo "entry $i ($w px) is not 32 bpp" >&2; return 1; }
      echo "  entry $i: ${w}x${w} BMP 32 bpp, $len bytes"
    fi
  done
}
echo "quorvel.ico:"
check_ico "$tmp/quorvel.ico"

# ---- slides ---------------------------------------------------------------------------
for n in 1 2 3 4; do
  rsvg-convert -w 700 -h 400 "$art/slide$n.svg" -o "$tmp/slide$n.raw.png"
  png32 "$tmp/slide$n.raw.png" "$tmp/slide$n.png"
done

# ---- lossless recompression ------------------------------------------------------------
# zopflipng finds smaller encodings of the same pixels; the script keeps a result only when it
# is still 8-bit RGBA and decodes identically.  The ICO's PNG image is recompressed in place.
python3 "$here/squeeze-png.py" "$tmp/quorvel.ico" "$tmp/icon48.png" "$tmp/product.png" \
  "$tmp"/slide[1-4].png >/dev/null
check_ico "$tmp/quorvel.ico" >/dev/null

# ---- install --------------------------------------------------------------------------
mkdir -p "$out"
cp "$tmp/quorvel.ico" "$out/quorvel.ico"
cp "$tmp/icon48.png" "$out/brand.png"
cp "$tmp/product.png" "$out/product.png"
for n in 1 2 3 4; do cp "$tmp/slide$n.png" "$out/slide$n.png"; done

for f in brand product slide1 slide2 slide3 slide4; do
  "$IDENTIFY" -format "$f.png: %wx%h %[channels] %[bit-depth]-bit, " "$out/$f.png"
  echo "$(stat -c %s "$out/$f.png") bytes"
done
echo "quorvel.ico: $(stat -c %s "$out/quorvel.ico") bytes"

# ---- optional preview ------------------------------------------------------------------
# The images as the program shows them at 96 DPI: brand at 24 px and product at 96 px on
# the window background, slides scaled into the banner, and every icon size at 1x and 4x.
if [ -n "$sheet" ]; then
  bg='#F5F5F5'; banner='#DCEDFB'
  "$CONVERT" -size 640x200 "xc:$bg" \
    \( "$out/brand.png" -filter Catrom -resize 24x24 \) -geometry +16+10 -composite \
    \( "$out/product.png" -filter Catrom -resize 96x96 \) -geometry +272+58 -composite \
    \( "$out/product.png" \) -geometry +444+4 -composite "$tmp/sheet_top.png"
  icons=()
  for s in "${sizes[@]}"; do icons+=("$tmp/icon$s.png"); done
  "$CONVERT" -background "$bg" "${icons[@]}" -gravity south +append -alpha remove "$tmp/sheet_icons.png"
  "$CONVERT" -background "$bg" "$tmp/icon16.png" "$tmp/icon24.png" "$tmp/icon32.png" "$tmp/icon48.png" \
    -gravity south +append -alpha remove -scale 400% "$tmp/sheet_zoom.png"
  for n in 1 2 3 4; do
    "$CONVERT" -size 422x241 "xc:$banner" \( "$out/slide$n.png" -filter Catrom -resize 422x241 \) \
      -composite "$tmp/sheet_s$n.png"
  done
  "$CONVERT" \( "$tmp/sheet_s1.png" "$tmp/sheet_s2.png" +append \) \( "$tmp/sheet_s3.png" "$tmp/sheet_s4.png" +append \) \
    -background white -append "$tmp/sheet_slides.png"
  "$CONVERT" -background white "$tmp/sheet_top.png" "$tmp/sheet_icons.png" "$tmp/sheet_zoom.png" \
    "$tmp/sheet_slides.png" -gravity northwest -splice 0x8 -append +repage "$sheet"
  echo "contact sheet: $sheet"
fi
