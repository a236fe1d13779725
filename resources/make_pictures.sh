#!/bin/sh
# Draws the program's pictures with ImageMagick. The results are checked in beside this
# script; run it again after changing a drawing:  sh resources/make_pictures.sh
set -eu
cd "$(dirname "$0")/pictures"
IM=/usr/bin/convert   # ImageMagick itself, not a wrapper earlier on PATH

# The copy motif: a diamond outline around an upright bar.
copy_motif() { # colour size stroke
    s=$2; c=$((s / 2)); m=$(($3 / 2 + 2)); w=$(($3 / 2 + 1))
    echo "-stroke '$1' -strokewidth $3 -fill none -draw \"polygon $c,$m $((s - m)),$c $c,$((s - m)) $m,$c\"" \
         "-stroke none -fill '$1' -draw \"rectangle $((c - w)),$((s * 3 / 10)) $((c + w - 1)),$((s * 7 / 10))\""
}

# Every picture also at twice its size, name@2x, for screens at 200 %: Qt picks it itself.
# The same drawing, doubled by the affine, lines with it; text by hand.
twice() { # drawing...
    echo "-affine 2,0,0,2,0,0 $*" |
        perl -pe 's/-pointsize (\d+)/"-pointsize " . 2 * $1/ge; s/-annotate \+(\d+)\+(\d+)/"-annotate +" . 2 * $1 . "+" . 2 * $2/ge'
}

# 82 x 82 GIF89a, palette with one transparent colour (the background).
gif() { # name colour
    eval "$IM -size 82x82 xc:none +antialias $(copy_motif "$2" 82 8) \
        -channel A -threshold 50% +channel -colors 255 $1.gif"
    eval "$IM -size 164x164 xc:none +antialias $(copy_motif "$2" 164 16) \
        -channel A -threshold 50% +channel -colors 255 $1@2x.gif"
}
gif copy_idle '#1c9c2c'
gif copy_busy '#d01818'

# 32 x 32 icons with 16 colours and a transparency mask.
icon() { # name drawing...
    name=$1; shift
    eval "$IM -size 32x32 xc:none $* -channel A -threshold 50% +channel \
        -colors 16 -depth 4 -type PaletteAlpha $name.ico"
    eval "$IM -size 64x64 xc:none $(twice "$*") -channel A -threshold 50% +channel \
        -colors 16 -depth 4 -type PaletteAlpha $name@2x.ico"
}

icon kopyra "+antialias $(copy_motif '#1c9c2c' 32 3) -stroke none -fill '#0c5c14' -draw 'rectangle 15,9 16,22'"

# Red cross in two brush strokes.
icon end "-stroke '#801010' -strokewidth 6 -fill none -draw 'path \"M 7,8 Q 16,16 27,27\"' \
    -draw 'path \"M 27,7 Q 18,17 7,27\"' -stroke '#e02020' -strokewidth 4 -fill none -draw 'path \"M 6,7 Q 15,15 26,26\"' \
    -draw 'path \"M 26,6 Q 17,16 6,26\"'"

# A speech bubble (white, dark outline) with a mark in it.
bubble="-stroke '#202020' -strokewidth 1 -fill white -draw 'roundrectangle 2,2 29,22 6,6' \
    -draw 'polygon 8,21 8,29 15,21'"
icon info "$bubble -stroke none -fill '#1030c0' -draw 'rectangle 14,5 17,8' \
    -draw 'rectangle 14,10 17,19' -draw 'rectangle 12,10 14,11' -draw 'rectangle 12,18 19,19'"
icon help "$bubble -stroke none -fill '#1030c0' \
    -font /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf -pointsize 19 -annotate +10+19 '?'"

# Flatbed scanner: body, lid, a green light under the glass.
icon scanner "-stroke '#303030' -fill '#b0b0b0' -draw 'rectangle 2,14 29,26' \
    -fill '#707070' -draw 'polygon 2,13 6,6 29,6 29,13' \
    -stroke none -fill '#20d020' -draw 'rectangle 5,17 26,18' \
    -fill '#404040' -draw 'rectangle 22,22 26,24'"

# Printer printing a sheet.
icon printer "-stroke '#303030' -fill white -draw 'rectangle 9,2 22,12' \
    -fill '#a0a0a0' -draw 'rectangle 2,11 29,22' \
    -fill white -draw 'polygon 8,20 23,20 25,30 6,30' \
    -stroke '#404040' -draw 'line 10,24 21,24' -draw 'line 10,27 21,27' \
    -stroke none -fill '#20c020' -draw 'rectangle 24,14 26,15'"

# A dialog window with a set square on it.
icon options "-stroke '#303030' -fill '#e0e0e0' -draw 'rectangle 2,3 27,27' \
    -fill '#1040a0' -draw 'rectangle 2,3 27,8' \
    -fill '#e0c020' -draw 'polygon 9,12 9,30 29,30' \
    -fill '#e0e0e0' -draw 'polygon 13,21 13,26 19,26'"

# The info window's icon: the info bubble in 32 x 32 and 16 x 16.
$IM info.ico -resize 16x16 -channel A -threshold 50% +channel -colors 16 /tmp/kopyra-info16.png
$IM info.ico /tmp/kopyra-info16.png -colors 16 info_window.ico
$IM info@2x.ico -resize 32x32 -channel A -threshold 50% +channel -colors 16 /tmp/kopyra-info32.png
$IM info@2x.ico /tmp/kopyra-info32.png -colors 16 info_window@2x.ico
rm -f /tmp/kopyra-info16.png /tmp/kopyra-info32.png

# The info window's picture.
python3 ../make_circuit_board.py | $IM ppm:- -quality 88 circuit_board.jpg
python3 ../make_circuit_board.py 2 | $IM ppm:- -quality 88 circuit_board@2x.jpg

# The desktop icons at the usual sizes, drawn like ../desktop/kopyra.svg.
for size in 16 22 24 32 48 64 128 256; do
    stroke=$((size / 10 > 2 ? size / 10 : 2))
    eval "$IM -size ${size}x${size} xc:none $(copy_motif '#1c9c2c' $size $stroke) \
        ../desktop/kopyra-$size.png"
done

# How an open book lies for a book copy, as the scanner sees it (its corner mark at the top
# left): face down, the spine across the middle of the glass, the top of the pages towards the
# long edge opposite the mark, the left page on the mark's half. Beside the help file.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
lines=""
for x in 60 76 92 108 124 140 156 172 188 204 220; do
    lines="$lines -draw 'line $x,80 $x,206' -draw 'line $x,234 $x,360'"
done
eval "$IM -size 300x430 xc:white -stroke '#555555' -strokewidth 2 -fill '#cfdde6' \
    -draw 'rectangle 20,30 279,386' -stroke none -fill '#202020' -draw 'polygon 21,31 41,31 21,51' \
    -fill white -stroke '#888888' -strokewidth 1 \
    -draw 'rectangle 30,64 269,220' -draw 'rectangle 30,220 269,376' \
    -stroke none -fill '#9a9a9a' -draw 'rectangle 30,214 269,226' -fill '#555555' \
    -draw 'rectangle 30,218 269,222' -stroke '#707070' -strokewidth 3 $lines \
    -stroke '#303030' -strokewidth 7 -draw 'line 238,90 238,200' -draw 'line 238,244 238,354' \
    -stroke none -fill '#202020' -font $font -pointsize 13 \
    -annotate +46+22 'Anlegeecke' -annotate 90x90+284+120 'Oberkante der Seiten' -undercolor white \
    -annotate +52+143 ' linke Seite ' -annotate +52+300 ' rechte Seite ' -annotate +95+209 ' Buchrücken ' \
    -annotate +20+410 'So sieht der Scanner das Buch' buch_auflegen.png"
