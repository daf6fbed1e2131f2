#!/usr/bin/env bash
# Redraws the installer skin and icons: run `scripts/draw-artwork.sh` from anywhere (needs ImageMagick 6 and fonts-noto-cjk).
#
# Writes src/res/skin/{ready,slide1..4}.png (530x360), track.jpg and fill.jpg (490x6), setup.ico and
# sample/files/favicon.ico. Output is reproducible for a given ImageMagick and font version: no metadata,
# no timestamps, fixed quality settings.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
skin="$top/src/res/skin"
mkdir -p "$skin" "$top/sample/files"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

export MAGICK_THREAD_LIMIT=1   # keep renders light and their results independent of the thread count

# Fonts: Noto Sans CJK SC, looked up through fontconfig (regular and bold faces).
font_file() {
  fc-list ":family=Noto Sans CJK SC:style=$1" file | head -n1 | sed 's/: *$//'
}
FONT=Noto-Sans-CJK-SC
FONT_BOLD=Noto-Sans-CJK-SC-Bold
if ! convert -list font | grep -q "Font: $FONT_BOLD\$"; then
  FONT=$(font_file Regular); FONT_BOLD=$(font_file Bold)
  [ -n "$FONT" ] && [ -n "$FONT_BOLD" ] || { echo "draw-artwork: Noto Sans CJK SC not found (install fonts-noto-cjk)" >&2; exit 1; }
fi

W=530 H=360
WHITE='#FFFFFF'
INK='#2B2F36'       # dark text
MUTED='#8C929B'     # secondary text
RED='#E02A32'       # brand red (button, progress fill, icon)
RED_DARK='#B8161F'
RED_LIGHT='#F0525A'

PNG_OUT=(-strip -depth 8 -define png:exclude-chunks=date,time,tIME -define png:compression-level=9)

# Brand mark on a transparent square canvas of $2 pixels: a red rounded square carrying a white "M"
# whose middle dips like a valley. $3 = "badge" adds the installer's download badge; "white" gives the
# reversed form (white square, red letter) used on coloured backgrounds.
draw_mark() {
  local out=$1 s=$2 variant=${3:-plain}
  local k; k=$(awk -v s="$s" 'BEGIN { printf "%.6f", s / 256 }')
  sc() { awk -v k="$k" -v v="$1" 'BEGIN { printf "%.2f", v * k }'; }
  local r0 r1 rr face="gradient:$RED_LIGHT-$RED_DARK" ink=white
  r0=$(sc 10); r1=$(sc 245); rr=$(sc 58)
  # The letter: left leg, valley, right leg (x1 y1 x2 y2 valley-x valley-y stroke), 256-unit grid.
  local m=(66 82 190 178 128 156 30)
  if [ "$variant" = white ]; then face="xc:$WHITE"; ink=$RED; fi
  if [ "$variant" = badge ]; then m=(52 64 152 142 102 124 26); fi
  convert -size "${s}x${s}" -define gradient:angle=135 "$face" \
    \( -size "${s}x${s}" xc:black -fill white -draw "roundrectangle $r0,$r0 $r1,$r1 $rr,$rr" \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -fill none -stroke "$ink" -strokewidth "$(sc "${m[6]}")" \
    -draw "stroke-linecap round stroke-linejoin round polyline $(sc "${m[0]}"),$(sc "${m[3]}") $(sc "${m[0]}"),$(sc "${m[1]}") $(sc "${m[4]}"),$(sc "${m[5]}") $(sc "${m[2]}"),$(sc "${m[1]}") $(sc "${m[2]}"),$(sc "${m[3]}")" \
    "$tmp/mark-body.png"
  if [ "$variant" = badge ]; then
    # White disc at the lower right, clear of the letter, with a red downward arrow: "this installs Mirevale".
    local c; c=$(sc 196)
    convert "$tmp/mark-body.png" \
      -fill white -stroke none -draw "circle $c,$c $c,$(sc 144)" \
      -fill none -stroke "$RED" -strokewidth "$(sc 15)" \
      -draw "stroke-linecap round stroke-linejoin round line $c,$(sc 170) $c,$(sc 218)" \
      -draw "stroke-linecap round stroke-linejoin round polyline $(sc 177),$(sc 201) $c,$(sc 220) $(sc 215),$(sc 201)" \
      "$tmp/mark-body.png"
  fi
  convert "$tmp/mark-body.png" "${PNG_OUT[@]}" "$out"
}

# Multi-size icon from a 1024-pixel master: each size is drawn at 4x and reduced, the small ones sharpened.
make_icon() {
  local out=$1 variant=$2 s
  local parts=()
  for s in 16 32 48 256; do
    local v=$variant
    [ "$s" -eq 16 ] && v=plain   # a badge does not read at 16 pixels
    draw_mark "$tmp/m$s-big.png" $((s * 4)) "$v"
    if [ "$s" -le 32 ]; then
      convert "$tmp/m$s-big.png" -filter Box -resize "${s}x${s}" -unsharp 0x0.6+0.6+0 "${PNG_OUT[@]}" "$tmp/m$s.png"
    else
      convert "$tmp/m$s-big.png" -filter Lanczos -resize "${s}x${s}" "${PNG_OUT[@]}" "$tmp/m$s.png"
    fi
    parts+=("$tmp/m$s.png")
  done
  convert "${parts[@]}" -strip -define png:exclude-chunks=date,time,tIME "$out"
}

# Window buttons, white, centred in (470,0)-(500,32) and (500,0)-(530,32).
GLYPHS=(-fill none -stroke "rgba(255,255,255,0.92)" -strokewidth 1.6
  -draw "stroke-linecap round line 480,16.5 490,16.5"
  -draw "stroke-linecap round line 510.5,11.5 519.5,20.5"
  -draw "stroke-linecap round line 519.5,11.5 510.5,20.5")

# Coloured panel: diagonal gradient $2-$3 with soft translucent discs, cut along a gentle wave whose
# lowest point is y=$4; everything below the wave is white.
panel() {
  local out=$1 c1=$2 c2=$3 base=$4
  local a=$((base - 36)) b=$((base - 8)) c=$((base - 44)) d=$((base))
  convert -size ${W}x${H} -define gradient:angle=120 gradient:"$c1-$c2" \
    -fill "rgba(255,255,255,0.07)" -stroke none \
    -draw "circle 470,70 470,230" -draw "circle 60,250 60,360" \
    -fill "rgba(255,255,255,0.05)" -draw "circle 360,-30 360,90" \
    \( -size ${W}x${H} xc:black -fill white -stroke none \
       -draw "path 'M 0,0 L $W,0 L $W,$a C 420,$d 230,$c 0,$b Z'" \) \
    -alpha off -compose CopyOpacity -composite \
    \( -size ${W}x${H} xc:"$WHITE" \) +swap -compose Over -composite \
    "$out"
}

# ---------------------------------------------------------------- ready face (140)
draw_mark "$tmp/mark64.png" 256 white
convert "$tmp/mark64.png" -filter Lanczos -resize 58x58 "$tmp/mark58.png"
draw_mark "$tmp/mark-s.png" 96 white
convert "$tmp/mark-s.png" -filter Lanczos -resize 22x22 "$tmp/mark22.png"

panel "$tmp/ready-bg.png" '#A8121B' '#EE4A4E' 262

name_w=$(convert -font "$FONT_BOLD" -pointsize 46 label:Mirevale -format %w info:)
group_w=$((58 + 16 + name_w))
gx=$(((W - group_w) / 2))
convert "$tmp/ready-bg.png" \
  "$tmp/mark58.png" -geometry +$gx+78 -composite \
  -font "$FONT_BOLD" -pointsize 46 -fill white -stroke none \
  -gravity northwest -annotate +$((gx + 74))+70 "Mirevale" \
  -gravity north -font "$FONT" -pointsize 17 -fill "rgba(255,255,255,0.92)" \
  -annotate +0+160 "轻快连接  ·  安全稳定  ·  随时在线" \
  -gravity northwest "${GLYPHS[@]}" \
  \( -size ${W}x${H} xc:none -fill "rgba(200,20,30,0.35)" -stroke none \
     -draw "roundrectangle 190,297 350,330 17,17" -blur 0x5 \) -compose Over -composite \
  \( -size ${W}x${H} -define gradient:angle=90 gradient:"$RED_LIGHT-$RED" \
     \( -size ${W}x${H} xc:black -fill white -draw "roundrectangle 183,291 357,330 19.5,19.5" \) \
     -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
  -gravity northwest -font "$FONT_BOLD" -pointsize 17 -fill white -stroke none \
  -gravity center -annotate +0+$((310 - H / 2)) "立即安装" \
  -alpha off "${PNG_OUT[@]}" "$skin/ready.png"

# ---------------------------------------------------------------- installing slides (141, 142, 143, 146)
# Each slide: the brand at the top left, a white line icon in a translucent disc, a title, one line of
# text and four page dots; the band from y=305 down stays white for the progress bar and labels.
slide() {
  local n=$1 c1=$2 c2=$3 title=$4 line=$5 icon=$6
  panel "$tmp/slide$n-bg.png" "$c1" "$c2" 312
  local dots=() i x
  for i in 1 2 3 4; do
    x=$((228 + (i - 1) * 20))
    if [ "$i" -eq "$n" ]; then dots+=(-fill white -draw "roundrectangle $x,262 $((x + 14)),267 2.5,2.5")
    else dots+=(-fill "rgba(255,255,255,0.45)" -draw "roundrectangle $((x + 4)),262 $((x + 9)),267 2.5,2.5"); fi
  done
  convert "$tmp/slide$n-bg.png" \
    "$tmp/mark22.png" -geometry +14+6 -composite \
    -font "$FONT_BOLD" -pointsize 14 -fill white -stroke none -gravity northwest -annotate +43+6 "Mirevale" \
    "${GLYPHS[@]}" \
    -fill "rgba(255,255,255,0.16)" -stroke none -draw "circle 265,110 265,156" \
    "$tmp/icon-$icon.png" -gravity northwest -geometry +237+82 -compose Over -composite \
    -font "$FONT_BOLD" -pointsize 30 -fill white -stroke none -gravity north -annotate +0+172 "$title" \
    -font "$FONT" -pointsize 16 -fill "rgba(255,255,255,0.9)" -annotate +0+220 "$line" \
    -gravity northwest -stroke none "${dots[@]}" \
    -alpha off "${PNG_OUT[@]}" "$skin/slide$n.png"
}

# Line icons, 56x56, white, drawn at 4x and reduced.
icon() {
  local name=$1; shift
  convert -size 224x224 xc:none -fill none -stroke white -strokewidth 14 "$@" \
    -filter Lanczos -resize 56x56 "$tmp/icon-$name.png"
}
LR="stroke-linecap round stroke-linejoin round"
icon bolt   -fill white -stroke white -strokewidth 10 -draw "$LR path 'M 128,22 L 58,124 L 108,124 L 94,202 L 166,98 L 116,98 L 128,22 Z'"
icon shield -draw "$LR path 'M 112,24 L 182,50 L 182,108 C 182,156 152,186 112,202 C 72,186 42,156 42,108 L 42,50 Z'" \
            -draw "$LR polyline 80,112 104,136 148,90"
icon spark  -fill white -stroke none \
            -draw "path 'M 96,30 C 104,80 116,92 166,100 C 116,108 104,120 96,170 C 88,120 76,108 26,100 C 76,92 88,80 96,30 Z'" \
            -draw "path 'M 170,132 C 174,156 178,160 202,164 C 178,168 174,172 170,196 C 166,172 162,168 138,164 C 162,160 166,156 170,132 Z'"
icon chat   -draw "$LR path 'M 56,44 L 168,44 C 184,44 196,56 196,72 L 196,134 C 196,150 184,162 168,162 L 106,162 L 66,194 L 70,162 L 56,162 C 40,162 28,150 28,134 L 28,72 C 28,56 40,44 56,44 Z'" \
            -fill white -stroke none -draw "circle 74,103 74,115" -draw "circle 112,103 112,115" -draw "circle 150,103 150,115"

slide 1 '#1557C0' '#3AA0F2' "极速下载"   "多线路智能调度，安装快人一步"        bolt
slide 2 '#0B7F62' '#2EC48F' "安全可靠"   "每个文件都经过校验，安心无忧"        shield
slide 3 '#4A2FB8' '#8C6CF2' "简洁易用"   "一键完成安装，无需任何繁琐设置"      spark
slide 4 '#D0560F' '#F7A23B' "贴心服务"   "7×24 小时在线支持，随时为您解答"     chat

# ---------------------------------------------------------------- progress bar images (144, 145)
# Uniform horizontally (the fill is cut from the left), a faint vertical shade only.
JPG_OUT=(-strip -depth 8 -sampling-factor 1x1 -quality 95 -interlace none)
convert -size 490x6 gradient:'#E6E8EC-#DDE0E4' "${JPG_OUT[@]}" "$skin/track.jpg"
convert -size 490x6 gradient:"#EC434A-#D5212A" "${JPG_OUT[@]}" "$skin/fill.jpg"

# ---------------------------------------------------------------- icons (128 and the client's)
make_icon "$skin/setup.ico" badge
make_icon "$top/sample/files/favicon.ico" plain

echo "draw-artwork: wrote $skin and sample/files/favicon.ico"
