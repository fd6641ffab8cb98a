#!/usr/bin/env bash
# Installs the stack from a build directory ($1, default build) into a
# temporary prefix, moves the installed tree elsewhere (it must not care
# where it lives), then:
#   - compiles a C11 program that includes every installed public header,
#     with every warning an error;
#   - builds the examples against the moved tree with CMake (find_package)
#     and with pkg-config (examples/Makefile);
#   - boots a private machine with the installed lxmachine and runs both
#     builds of the examples on it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d /tmp/lx-install-check.XXXXXX)
machine="$work/machine"
prefix="$work/moved"

cleanup() {
  if [ -x "$prefix/bin/lxmachine" ]; then
    LX_MACHINE="$machine" "$prefix/bin/lxmachine" shutdown >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- install into a temporary prefix, then move it"
cmake --install "$build" --prefix "$work/staged" >"$work/install.log"
mv "$work/staged" "$prefix"
include="$prefix/include/lxvideo"
if [ -e "$include/lx/internal" ] || ls "$include/lx" | grep -qE 'card_record|tern_card_context|handle_kinds|terncard_ioctl'; then
  echo "internal headers were installed" >&2
  exit 1
fi

# Nothing installed may look for its libraries in the build tree.
for file in "$prefix"/lib/*.so "$prefix"/bin/*; do
  if readelf -d "$file" | grep -E 'RUNPATH|RPATH' | grep -vqE '\[(\$ORIGIN[^]]*)\]'; then
    echo "$file: run path outside the installed tree: $(readelf -d "$file" | grep -E 'RUNPATH|RPATH')" >&2
    exit 1
  fi
done

if command -v gst-inspect-1.0 >/dev/null && [ -d "$prefix/lib/gstreamer-1.0" ]; then
  echo "-- the GStreamer element from the installed plugin"
  GST_PLUGIN_PATH="$prefix/lib/gstreamer-1.0" GST_REGISTRY="$work/gst-registry.bin" \
    gst-inspect-1.0 lxvideosrc >"$work/gst-inspect.log" 2>&1 || { cat "$work/gst-inspect.log"; exit 1; }
  grep -q "lxvideosrc" "$work/gst-inspect.log" || { cat "$work/gst-inspect.log"; exit 1; }
fi

echo "-- every public header from C11"
{
  for header in "$include"/lx/*.h; do
    echo "#include <lx/$(basename "$header")>"
  done
  echo "int main(void) { return LX_OK + (int)sizeof(SnapExInfo) - 40; }"
} >"$work/every_header.c"
cc -std=c11 -Wall -Wextra -Werror -pedantic-errors -I"$include" -o "$work/every_header" "$work/every_header.c" \
  -L"$prefix/lib" -lLxVidEx -lLxVideo -lLxDevMm -lwin32 -Wl,-rpath,"$prefix/lib"
"$work/every_header"
echo "   $(ls "$include"/lx/*.h | wc -l) headers"

echo "-- examples with CMake"
cmake -S examples -B "$work/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  >"$work/cmake.log" || { cat "$work/cmake.log"; exit 1; }
cmake --build "$work/with-cmake" >"$work/cmake-build.log" || { cat "$work/cmake-build.log"; exit 1; }

echo "-- examples with pkg-config"
mkdir -p "$work/with-pkg-config"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" make -s -C examples OUT="$work/with-pkg-config"

echo "-- a private machine from the installed lxmachine"
export LX_MACHINE="$machine" LX_MACHINE_NO_AUTOBOOT=1
unset LX_MACHINE_TOOL LX_DRIVER_PATH LX_MODULE_PATH
"$prefix/bin/lxmachine" boot >/dev/null
"$prefix/bin/lxmachine" status

# The CMake build saves bitmaps, the pkg-config build PNG files.
for run in with-cmake:bmp with-pkg-config:png; do
  way=${run%%:*}
  format=${run##*:}
  bin="$work/$way"
  echo "-- examples built $way"
  "$bin/list_cards" | tee "$work/list.txt"
  grep -q '^card 1: TernCard, slot' "$work/list.txt"
  frames="$work/frames-$way"
  mkdir -p "$frames"
  "$bin/snap_frames" "$frames" "$format" | tee "$work/snap.txt"
  [ "$(grep -c '^frame ' "$work/snap.txt")" -eq 10 ]
  python3 - "$frames" "$format" <<'PY'
# Decodes every file with the standard library alone: a bitmap's header and
# rows; a PNG file's chunk sums, header and zlib stream (with its own sum).
import struct, sys, zlib
directory, extension = sys.argv[1], sys.argv[2]
for frame in range(10):
    data = open(f"{directory}/frame{frame:02d}.{extension}", "rb").read()
    if extension == "bmp":
        assert data[:2] == b"BM" and struct.unpack_from("<I", data, 2)[0] == len(data), frame
        width, height, planes, bits = struct.unpack_from("<iiHH", data, 18)
        assert (width, height, bits) == (384, 288, 24), (frame, width, height, bits)
        pixels = data[54:]
    else:
        assert data[:8] == b"\x89PNG\r\n\x1a\n", frame
        at, chunks = 8, {}
        while at < len(data):
            length, kind = struct.unpack_from(">I4s", data, at)
            body = data[at + 8 : at + 8 + length]
            assert struct.unpack_from(">I", data, at + 8 + length)[0] == zlib.crc32(kind + body), (frame, kind)
            chunks[kind] = chunks.get(kind, b"") + body
            at += 12 + length
        assert struct.unpack(">IIBBBBB", chunks[b"IHDR"]) == (384, 288, 8, 2, 0, 0, 0), frame
        raw = zlib.decompress(chunks[b"IDAT"])
        assert len(raw) == 288 * (1 + 384 * 3) and all(raw[y * 1153] == 0 for y in range(288)), frame
        pixels = raw
    assert len(set(pixels)) >= 3, f"frame {frame} is one flat colour"
PY
  "$bin/snap_ex_rate" 2
  "$bin/frame_summary"
done
echo "install check passed"
