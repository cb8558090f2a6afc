#!/usr/bin/env python3
"""Renders one frame on both backends and compares the screenshots.

The Linux build draws with OpenGL on llvmpipe and the Windows build with Direct3D 11 on
DXVK over lavapipe, both Mesa rasterizers, so the same frame must come out nearly the same
on both: screenshots of the same size whose mean absolute difference is at most 2 in every
channel and where at least 99 % of the pixels lie within 16 in every channel. Neither image
is stored in the repository; a failing pair is kept in the output directory with a
difference image for a look.

  frame_parity.py placeholder --gl-tests EXE --d3d11-tests EXE --emulator WINE-EXEC --out DIR
      the placeholder frame at a fixed time, written by each backend's render suite
  frame_parity.py content --gl-program EXE --d3d11-program EXE --emulator WINE-EXEC --content DIR --out DIR
      the duel frame of the golden run (24 fixed steps at 60 per second, 640 x 360) drawn by the
      Linux and the Windows program from one baked content directory; their reports must also
      count the same draws, triangles, skinned vertices and uploads
  frame_parity.py compare A.bmp B.bmp --out DIR
      two screenshots already written (for example by --content-smoke --screenshot runs)
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
from pathlib import Path

from e2e import program_environment

from run_smoke import GOLDEN_RUN, windows_path

MEAN_LIMIT = 2.0         # mean absolute difference per channel
NEAR_LIMIT = 16          # a pixel is near when every channel is within this
NEAR_FRACTION = 0.99     # share of pixels that must be near
TIMEOUT_SECONDS = 600
# What the front end decides, so both backends must report the same: everything but timings.
SAME_RENDERER_COUNTS = ("msaaSampleCount", "gpuSkinningEnabled", "uploadedModels", "uploadedMeshes",
                        "uploadedTextures", "drawCalls", "triangles", "skinnedVertices", "gpuSkinnedVertices",
                        "cpuSkinnedVertices", "skinPaletteUploads", "frameLatencyWaits", "antiAliasingResolves")


class Image:
    """A 24-bit BMP v3 screenshot: width, height and rows of (blue, green, red) bytes, top row first."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    @staticmethod
    def read(path):
        data = Path(path).read_bytes()
        if len(data) < 54 or data[:2] != b"BM":
            raise ValueError(f"{path}: not a BMP file")
        offset, = struct.unpack_from("<I", data, 10)
        width, height = struct.unpack_from("<ii", data, 18)
        bits, = struct.unpack_from("<H", data, 28)
        if bits != 24 or width <= 0 or height == 0:
            raise ValueError(f"{path}: not a 24-bit BMP ({bits} bits, {width} x {height})")
        row_bytes = (width * 3 + 3) & ~3
        rows = [data[offset + row_bytes * y: offset + row_bytes * y + width * 3] for y in range(abs(height))]
        if height > 0:  # bottom-up file
            rows.reverse()
        if any(len(row) != width * 3 for row in rows):
            raise ValueError(f"{path}: truncated pixel data")
        return Image(width, abs(height), rows)

    def write(self, path):
        row_bytes = (self.width * 3 + 3) & ~3
        padding = b"\0" * (row_bytes - self.width * 3)
        pixels = b"".join(row + padding for row in self.rows)
        header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, -self.height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
        Path(path).write_bytes(header + info + pixels)


def difference(a, b):
    """Mean absolute difference per channel (red, green, blue), the share of near pixels, and
    a difference image (each channel's absolute difference, scaled by 4 so small ones show)."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError(f"sizes differ: {a.width} x {a.height} and {b.width} x {b.height}")
    sums = [0, 0, 0]
    near = 0
    diff_rows = []
    for row_a, row_b in zip(a.rows, b.rows):
        diff_row = bytearray(len(row_a))
        for x in range(0, len(row_a), 3):
            worst = 0
            for c in range(3):
                d = abs(row_a[x + c] - row_b[x + c])
                sums[c] += d
                worst = max(worst, d)
                diff_row[x + c] = min(255, d * 4)
            near += worst <= NEAR_LIMIT
        diff_rows.append(bytes(diff_row))
    pixels = a.width * a.height
    blue, green, red = (total / pixels for total in sums)
    return (red, green, blue), near / pixels, Image(a.width, a.height, diff_rows)


def compare(path_a, path_b, out):
    """Prints the measures; returns True when the pair passes, else keeps it under `out`."""
    a, b = Image.read(path_a), Image.read(path_b)
    means, near, diff = difference(a, b)
    print(f"{path_a} vs {path_b}: {a.width} x {a.height}, mean absolute difference "
          f"r {means[0]:.3f} g {means[1]:.3f} b {means[2]:.3f}, {100 * near:.3f} % of pixels within {NEAR_LIMIT}")
    passed = max(means) <= MEAN_LIMIT and near >= NEAR_FRACTION
    if not passed:
        kept = Path(out) / "failed"
        kept.mkdir(parents=True, exist_ok=True)
        shutil.copy(path_a, kept / Path(path_a).name)
        shutil.copy(path_b, kept / Path(path_b).name)
        diff.write(kept / "difference.bmp")
        print(f"FAIL: frames differ beyond mean {MEAN_LIMIT} or {100 * NEAR_FRACTION:g} % within {NEAR_LIMIT}; "
              f"the pair and their difference are in {kept}")
    return passed


def run(command, env):
    print("run:", " ".join(str(part) for part in command))
    completed = subprocess.run(command, env=env, timeout=TIMEOUT_SECONDS, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    if completed.returncode != 0:
        print(completed.stdout[-4000:])
    return completed.returncode


def placeholder(args):
    out = Path(args.out).resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    gl, d3d11 = out / "placeholder-gl.bmp", out / "placeholder-d3d11.bmp"
    for program in (args.gl_tests, args.d3d11_tests):
        if not Path(program).is_file():
            print(f"FAIL: {program} is missing; build both the linux-debug and the windows presets first")
            return 1
    env = program_environment()
    env["KESTRUNE_PARITY_SCREENSHOT"] = str(gl)
    code = run([args.gl_tests, "--gtest_filter=GlBackendTest.WritesThePlaceholderParityFrame"], env)
    # Under Wine a path without a drive letter is relative to the current drive; Z: is the root.
    env = dict(os.environ, KESTRUNE_PARITY_SCREENSHOT=f"Z:{d3d11}")
    code |= run([args.emulator, args.d3d11_tests, "--gtest_filter=D3d11DeviceTest.WritesThePlaceholderParityFrame"],
                env)
    if code != 0 or not gl.is_file() or not d3d11.is_file():
        print("FAIL: a backend did not write its placeholder frame")
        return 1
    return 0 if compare(gl, d3d11, out) else 1


def content(args):
    out = Path(args.out).resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    content_dir = Path(args.content).resolve()
    for program in (args.gl_program, args.d3d11_program, content_dir / "MANIFEST"):
        if not Path(program).is_file():
            print(f"FAIL: {program} is missing; build both the linux-debug and the windows presets first")
            return 1
    env = program_environment()
    runs = {}
    for name, command, path, run_env in (
            ("gl", [args.gl_program], str, env),
            ("d3d11", [args.emulator, args.d3d11_program], windows_path, dict(os.environ))):
        shot, report = out / f"content-{name}.bmp", out / f"content-{name}.json"
        code = run([*command, "--smoke-test", *GOLDEN_RUN, f"--content={path(content_dir)}",
                    f"--screenshot={path(shot)}", f"--report={path(report)}", f"--log={path(out / f'{name}.log')}"],
                   run_env)
        if code != 0 or not shot.is_file() or not report.is_file():
            print(f"FAIL: the {name} run ended with exit code {code} without its frame and report")
            return 1
        runs[name] = shot, json.loads(report.read_text())
    (gl, gl_report), (d3d11, d3d11_report) = runs["gl"], runs["d3d11"]
    passed = compare(gl, d3d11, out)
    for key in SAME_RENDERER_COUNTS:
        if gl_report["renderer"][key] != d3d11_report["renderer"][key]:
            print(f"FAIL: renderer {key}: GL {gl_report['renderer'][key]}, Direct3D 11 {d3d11_report['renderer'][key]}")
            passed = False
    if gl_report["scene"] != d3d11_report["scene"]:
        print(f"FAIL: scene counts differ: GL {gl_report['scene']}, Direct3D 11 {d3d11_report['scene']}")
        passed = False
    return 0 if passed else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    frame = commands.add_parser("placeholder")
    frame.add_argument("--gl-tests", required=True)
    frame.add_argument("--d3d11-tests", required=True)
    frame.add_argument("--emulator", required=True)
    frame.add_argument("--out", required=True)
    scene = commands.add_parser("content")
    scene.add_argument("--gl-program", required=True)
    scene.add_argument("--d3d11-program", required=True)
    scene.add_argument("--emulator", required=True)
    scene.add_argument("--content", required=True)
    scene.add_argument("--out", required=True)
    pair = commands.add_parser("compare")
    pair.add_argument("a")
    pair.add_argument("b")
    pair.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.command == "placeholder":
        return placeholder(args)
    if args.command == "content":
        return content(args)
    return 0 if compare(args.a, args.b, args.out) else 1


if __name__ == "__main__":
    sys.exit(main())
