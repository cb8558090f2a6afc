#!/usr/bin/env python3
"""Renders one frame on both backends and compares the screenshots.

The Linux build draws with OpenGL on llvmpipe and the Windows build with Direct3D 11 on DXVK over lavapipe, both Mesa
rasterizers, so the same frame must come out nearly the same on both: screenshots of the same size whose mean absolute
difference is at most 2 in every channel and where at least 99 % of the pixels lie within 16 in every channel. Neither
image is stored in the repository; a failing pair is kept in the output directory with a difference image for a look.

  frame_parity.py placeholder --gl-tests EXE --d3d11-tests EXE --emulator WINE-EXEC --out DIR
      the placeholder frame at a fixed time, written by each backend's render suite
  frame_parity.py content --gl-program EXE --d3d11-program EXE --emulator WINE-EXEC --content DIR --out DIR
      the duel frame of the golden run (24 fixed steps at 60 per second, 640 x 360) drawn by the Linux and the Windows
      program from one baked content directory; their reports must also count the same draws, triangles, skinned
      vertices and uploads
"""
import argparse
import os
import shutil
import sys
from pathlib import Path

import e2e
from e2e import check, check_fields, program_environment, read_report, rgb_pixels, windows_path, write_rgb
from run_smoke import GOLDEN_RUN

MEAN_LIMIT = 2.0         # mean absolute difference per channel
NEAR_LIMIT = 16          # a pixel is near when every channel is within this
NEAR_FRACTION = 0.99     # share of pixels that must be near
TIMEOUT_SECONDS = 600
# What the front end decides, so both backends must report the same: everything but timings.
SAME_RENDERER_COUNTS = ("msaaSampleCount", "gpuSkinningEnabled", "uploadedModels", "uploadedMeshes",
                        "uploadedTextures", "drawCalls", "triangles", "skinnedVertices", "gpuSkinnedVertices",
                        "cpuSkinnedVertices", "skinPaletteUploads", "frameLatencyWaits", "antiAliasingResolves")


def difference(a, b):
    """Mean absolute difference per channel (red, green, blue), the share of near pixels, and
    a difference image (each channel's absolute difference, scaled by 4 so small ones show),
    of two images given as (width, height, RGB bytes)."""
    if a[:2] != b[:2]:
        raise ValueError(f"sizes differ: {a[0]} x {a[1]} and {b[0]} x {b[1]}")
    (width, height, pixels_a), pixels_b = a, b[2]
    differences = bytes(abs(x - y) for x, y in zip(pixels_a, pixels_b))
    sums = [sum(differences[c::3]) for c in range(3)]
    near = sum(max(differences[i:i + 3]) <= NEAR_LIMIT for i in range(0, len(differences), 3))
    pixels = width * height
    return tuple(total / pixels for total in sums), near / pixels, bytes(min(255, d * 4) for d in differences)


def compare(path_a, path_b, out):
    """Prints the measures; returns True when the pair passes, else keeps it under `out`."""
    a, b = rgb_pixels(path_a), rgb_pixels(path_b)
    means, near, diff = difference(a, b)
    print(f"{path_a} vs {path_b}: {a[0]} x {a[1]}, mean absolute difference "
          f"r {means[0]:.3f} g {means[1]:.3f} b {means[2]:.3f}, {100 * near:.3f} % of pixels within {NEAR_LIMIT}")
    passed = max(means) <= MEAN_LIMIT and near >= NEAR_FRACTION
    if not passed:
        kept = Path(out) / "failed"
        kept.mkdir(parents=True, exist_ok=True)
        shutil.copy(path_a, kept / Path(path_a).name)
        shutil.copy(path_b, kept / Path(path_b).name)
        write_rgb(kept / "difference.bmp", a[0], a[1], diff)
        print(f"FAIL: frames differ beyond mean {MEAN_LIMIT} or {100 * NEAR_FRACTION:g} % within {NEAR_LIMIT}; "
              f"the pair and their difference are in {kept}")
    return passed


def run(command, env):
    return e2e.run(command, env, TIMEOUT_SECONDS, tail=None).returncode


def fresh_output(out, needed):
    """The emptied output directory, or None (said) when a file of `needed` is missing."""
    out = Path(out).resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    missing = [str(path) for path in needed if not Path(path).is_file()]
    if missing:
        print(f"FAIL: {missing} missing; build both the linux-debug and the windows presets first")
    return None if missing else out


def placeholder(args):
    out = fresh_output(args.out, (args.gl_tests, args.d3d11_tests))
    if out is None:
        return 1
    gl, d3d11 = out / "placeholder-gl.bmp", out / "placeholder-d3d11.bmp"
    code = run([args.gl_tests, "--gtest_filter=GlBackendTest.WritesThePlaceholderParityFrame"],
               dict(program_environment(), KESTRUNE_PARITY_SCREENSHOT=str(gl)))
    # Under Wine a path without a drive letter is relative to the current drive; Z: is the root.
    code |= run([args.emulator, args.d3d11_tests, "--gtest_filter=D3d11DeviceTest.WritesThePlaceholderParityFrame"],
                dict(os.environ, KESTRUNE_PARITY_SCREENSHOT=f"Z:{d3d11}"))
    if code != 0 or not gl.is_file() or not d3d11.is_file():
        print("FAIL: a backend did not write its placeholder frame")
        return 1
    return 0 if compare(gl, d3d11, out) else 1


def content(args):
    content_dir = Path(args.content).resolve()
    out = fresh_output(args.out, (args.gl_program, args.d3d11_program, content_dir / "MANIFEST"))
    if out is None:
        return 1
    runs = {}
    for name, command, path, run_env in (
            ("gl", [args.gl_program], str, program_environment()),
            ("d3d11", [args.emulator, args.d3d11_program], windows_path, dict(os.environ))):
        shot, report = out / f"content-{name}.bmp", out / f"content-{name}.json"
        code = run([*command, "--smoke-test", *GOLDEN_RUN, f"--content={path(content_dir)}",
                    f"--screenshot={path(shot)}", f"--report={path(report)}", f"--log={path(out / f'{name}.log')}"],
                   run_env)
        if code != 0 or not shot.is_file() or not report.is_file():
            print(f"FAIL: the {name} run ended with exit code {code} without its frame and report")
            return 1
        runs[name] = shot, read_report(report)
    (gl, gl_report), (d3d11, d3d11_report) = runs["gl"], runs["d3d11"]
    check(compare(gl, d3d11, out), "the GL and the Direct3D 11 frame")
    check_fields(d3d11_report["renderer"], {key: gl_report["renderer"][key] for key in SAME_RENDERER_COUNTS},
                 "Direct3D 11 renderer (GL's expected) ")
    check_fields(d3d11_report, {"scene": gl_report["scene"]}, "Direct3D 11 (GL's expected) ")
    return e2e.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    for name, options in (("placeholder", ("gl-tests", "d3d11-tests", "emulator")),
                          ("content", ("gl-program", "d3d11-program", "emulator", "content"))):
        command = commands.add_parser(name)
        for option in options:
            command.add_argument(f"--{option}", required=True)
        command.add_argument("--out", required=True)
    args = parser.parse_args()
    return {"placeholder": placeholder, "content": content}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
