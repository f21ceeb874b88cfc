#!/usr/bin/env bash
# Builds a static FFmpeg for x86_64-w64-mingw32 from Debian's FFmpeg source package, for the encoding
# engine's win64 build. The result is cached outside the source tree, so a machine builds it once:
#
#   $HV_DEPS/ffmpeg-<version>-x86_64-w64-mingw32/   (HV_DEPS defaults to /opt/halvorn-deps)
#
# The prefix holds a stamp with the configure line; a different line (a changed component list) rebuilds.
# Prints the prefix on its last line. Needs root (or sudo) only to add the deb-src entry the first time.
set -euo pipefail

deps=${HV_DEPS:-/opt/halvorn-deps}
triple=x86_64-w64-mingw32
jobs=$(nproc)

# The same upstream version as the native development packages, so both builds share one API.
full_version=$(dpkg-query -W -f='${Version}' libavcodec-dev)
upstream=${full_version#*:}
upstream=${upstream%%-*}
prefix=$deps/ffmpeg-$upstream-$triple

# Only what the engine and its tests use. Encoders: the output codecs (WMV1/WMV2, MPEG-4, wmav1/wmav2,
# PCM) and the ones the tests make their input clips with. Decoders: the codecs common in the input
# formats the engine accepts (.wmv .wma .asf .avi .wav .mpg .mp3 .bmp .jpg).
encoders=wmv1,wmv2,msmpeg4v2,msmpeg4,mpeg4,rawvideo,wmav1,wmav2,pcm_s16le,mpeg1video,mpeg2video,mp2,bmp,mjpeg
decoders=wmv1,wmv2,wmv3,wmv3image,vc1,vc1image,mss2,msmpeg4v1,msmpeg4v2,msmpeg4,mpeg4,h263,h264,mpeg1video
decoders+=,mpeg2video,mjpeg,bmp,rawvideo,msvideo1,msrle,cinepak,wmav1,wmav2,wmapro,wmavoice,wmalossless
decoders+=,mp1,mp2,mp3,ac3,pcm_s16le,pcm_s16be,pcm_u8,pcm_s24le,pcm_s32le,pcm_f32le,pcm_alaw,pcm_mulaw
decoders+=,adpcm_ms,adpcm_ima_wav,gsm_ms
demuxers=asf,avi,wav,mpegps,mpegvideo,mp3,image2,bmp_pipe,jpeg_pipe
muxers=asf,asf_stream,avi,wav,mpeg1system,mp3,mp2,image2
parsers=mpegvideo,mpegaudio,mpeg4video,h263,h264,vc1,mjpeg,bmp,ac3
protocols=file,pipe,tcp,http
filters=buffer,buffersink,abuffer,abuffersink,scale,format,aformat,aresample,fps,crop,null,anull
# The video source's optimization: deinterlacing and inverse telecine.
filters+=,yadif,fieldmatch,decimate,detelecine

config=(
    --prefix="$prefix" --target-os=mingw32 --arch=x86_64 --enable-cross-compile
    --cross-prefix="$triple-" --cc="$triple-gcc-posix" --cxx="$triple-g++-posix"
    --pkg-config=pkg-config --enable-static --disable-shared --enable-w32threads
    --disable-autodetect --disable-programs --disable-doc --disable-debug
    --disable-everything
    --enable-encoder="$encoders" --enable-decoder="$decoders"
    --enable-demuxer="$demuxers" --enable-muxer="$muxers" --enable-parser="$parsers"
    --enable-protocol="$protocols" --enable-filter="$filters"
    --enable-indev=gdigrab,dshow
)
stamp_text="${config[*]}"

if [[ -f $prefix/halvorn.stamp && -f $prefix/lib/libavcodec.a && "$(cat "$prefix/halvorn.stamp")" == "$stamp_text" ]]; then
    echo "build-ffmpeg-mingw: up to date"
    echo "$prefix"
    exit 0
fi

sudo_cmd=()
((EUID == 0)) || sudo_cmd=(sudo)
"${sudo_cmd[@]}" mkdir -p "$deps"
"${sudo_cmd[@]}" chown "$(id -u):$(id -g)" "$deps"
# Two setups at once (two checkouts) must not build into the same prefix together.
exec 9>"$deps/ffmpeg-mingw.lock"
flock 9

# apt-get source needs a deb-src entry: mirror every deb entry of the machine's deb822 sources (same URIs,
# suites and components) into a file of our own, leaving the machine's files untouched.
src_list=/etc/apt/sources.list.d/halvorn-deb-src.sources
if ! apt-get source --print-uris "ffmpeg=$full_version" >/dev/null 2>&1; then
    tmp=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f $f && $f != "$src_list" ]] || continue
        awk '
            /^[[:space:]]*$/ { if (block != "" && deb) printf "%s\n", block; block = ""; deb = 0; next }
            /^#/ { next }
            /^Types:/ { if ($0 ~ /[[:space:]]deb([[:space:]]|$)/) deb = 1; block = block "Types: deb-src\n"; next }
            { block = block $0 "\n" }
            END { if (block != "" && deb) printf "%s", block }
        ' "$f" >>"$tmp"
    done
    [[ -s $tmp ]] || {
        echo "build-ffmpeg-mingw: no deb822 sources to derive a deb-src entry from" >&2
        exit 1
    }
    "${sudo_cmd[@]}" install -m 644 "$tmp" "$src_list"
    rm -f "$tmp"
    "${sudo_cmd[@]}" apt-get update -q
fi

work=$deps/src
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source -q "ffmpeg=$full_version" >fetch.log 2>&1) || {
    echo "build-ffmpeg-mingw: apt-get source failed, see $work/fetch.log" >&2
    exit 1
}
srcdir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
[[ -n $srcdir ]] || {
    echo "build-ffmpeg-mingw: no unpacked source under $work" >&2
    exit 1
}

rm -rf "$prefix"
echo "build-ffmpeg-mingw: configuring $srcdir for $triple (a few minutes)"
mkdir -p "$work/build"
cd "$work/build"
"$srcdir/configure" "${config[@]}" >configure.log 2>&1 || {
    echo "build-ffmpeg-mingw: configure failed, see $work/build/configure.log and ffbuild/config.log" >&2
    exit 1
}
echo "build-ffmpeg-mingw: building with $jobs jobs"
make -j"$jobs" >make.log 2>&1 || {
    echo "build-ffmpeg-mingw: make failed, see $work/build/make.log" >&2
    exit 1
}
make install >install.log 2>&1
echo "$stamp_text" >"$prefix/halvorn.stamp"
cd "$deps"
rm -rf "$work"
echo "build-ffmpeg-mingw: installed"
echo "$prefix"
