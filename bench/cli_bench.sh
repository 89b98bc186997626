#!/bin/sh
# quirelle-convert beside img2pdf and libtiff's tiff2pdf/tiff2ps on the same inputs: wall time and
# peak resident memory.
#   bench/cli_bench.sh [BUILD]
# 20 A4 300-dpi pages of text (1 bit) into a G4 PDF and a G4 PostScript file, and 20 colour photos
# of 4000 x 3000 into a JPEG PDF. The reference tools do not do the same work in every case (img2pdf
# copies JPEG and G4 data as they are, without decoding), which the output says.
set -eu
build=${1:-build}
conv=$(cd "$build" && pwd)/bin/quirelle-convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

measure() {
    label=$1
    shift
    if /usr/bin/time -f "%e %M" -o time.txt "$@" > /dev/null 2> err.txt; then
        read -r secs kib < time.txt
        printf '  %-46s %7.2f s %8.1f MiB\n' "$label" "$secs" "$(echo "$kib / 1024" | bc -l)"
    else
        printf '  %-46s failed: %s\n' "$label" "$(head -c 200 err.txt)"
    fi
}
have() { command -v "$1" > /dev/null 2>&1; }

echo "Inputs: 20 A4 pages of text at 300 dpi (2480 x 3508, 1 bit)"
for i in $(seq 1 20); do
    {
        echo "/Times-Roman findfont 11 scalefont setfont"
        y=780
        while [ $y -gt 40 ]; do
            echo "50 $y moveto (Page $i: The quick brown fox jumps over the lazy dog; 0123456789 and more words to fill the line.) show"
            y=$((y - 14))
        done
        echo "showpage"
    } > text.ps
    gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pbmraw -r300 -sPAPERSIZE=a4 -sOutputFile="page$i.pbm" text.ps
done
measure "quirelle-convert -> G4 PDF" "$conv" page*.pbm -c g4 --no-progress -o ours.pdf
measure "quirelle-convert -> G4 PostScript" "$conv" page*.pbm -c g4 --no-progress -o ours.ps
if [ -x /usr/bin/convert ] && have tiffcp; then
    for i in $(seq 1 20); do /usr/bin/convert "page$i.pbm" -compress Group4 "page$i.tif"; done
    tiffcp page*.tif all.tif
    if have img2pdf; then measure "img2pdf (G4 TIFF copied, not decoded)" img2pdf page*.tif -o ref-img2pdf.pdf; fi
    if have tiff2pdf; then measure "tiff2pdf (G4 TIFF copied)" tiff2pdf -o ref-tiff2pdf.pdf all.tif; fi
    if have tiff2ps; then measure "tiff2ps -2 -a" sh -c "tiff2ps -2 -a all.tif > ref.ps"; fi
fi
ls -l ours.pdf ours.ps ref-*.pdf ref.ps 2>/dev/null | awk '{printf "    %-20s %10d bytes\n", $9, $5}'

echo "Inputs: 20 colour photos of 4000 x 3000 (JPEG, quality 90)"
/usr/bin/python3 - <<'PY'
from PIL import Image, ImageChops
w, h = 4000, 3000
noise = Image.effect_noise((w, h), 40)
gx = Image.linear_gradient("L").resize((w, h))
gy = gx.rotate(90).resize((w, h))
for i in range(1, 21):
    r = ImageChops.add(gx, noise, scale=2.0, offset=i)
    g = ImageChops.add(gy, noise, scale=2.0)
    b = ImageChops.blend(gx, gy, 0.5)
    Image.merge("RGB", (r, g, b)).save("photo%02d.jpg" % i, quality=90)
PY
if "$conv" --decode photo01.jpg -o probe.ppm 2> /dev/null; then
    measure "quirelle-convert -> JPEG PDF (re-encodes)" "$conv" photo*.jpg -c jpeg --no-progress -o photos.pdf
    measure "quirelle-convert -> JPEG PostScript" "$conv" photo*.jpg -c jpeg --no-progress -o photos.ps
else
    echo "  quirelle-convert cannot read JPEG files in this build: skipped"
fi
if have img2pdf; then measure "img2pdf (JPEG copied, not re-encoded)" img2pdf photo*.jpg -o ref-photos.pdf; fi
ls -l photos.pdf photos.ps ref-photos.pdf 2>/dev/null | awk '{printf "    %-20s %10d bytes\n", $9, $5}'
