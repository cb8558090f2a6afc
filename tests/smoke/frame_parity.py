#!/usr/bin/env python3
"""Renders one frame on both backends and compares the screenshots.

The Linux build draws with OpenGL on llvmpipe and the Windows build with Direct3D 11 on DXVK over lavapipe, both Mesa
rasterizers, so the same frame must come out nearly the same on both: screenshots of the same size whose mean absolute
difference is at most 2 in every channel and where at least 99 % of the pixels lie within 16 in every channel. Neither
image is stored in the repository; a failing pair is kept in the output directory with a difference image for a look.

  frame_parity.py placeholder --gl-tests EXE --d3d11-tests EXE --emulator WINE-EXEC --out DIR
      the placeholder frame at a fixed time, written by each backend's render suite
  frame_parity.py content --gl-program EXE --d3d11-program EXE --emulator WINE-EXEC --content DIR --out DIR
      the duel frame of the golden runs (24 fixed steps at 60 per second, the HUD over it, at 640 x 360 and 2560 x 1440)
      drawn by the Linux and the Windows program from one baked content directory; their reports must also count the
      same draws, triangles, skinned vertices and uploads and say the same of the HUD
  frame_parity.py replay --gl-program EXE --d3d11-program EXE --emulator WINE-EXEC --content DIR --out DIR
      a replay recorded by each program plays on the other to the same trace, line for line, and a frame the
      parity above allows: an offline duel with keys recorded both ways, and an online duel against the Linux
      build's duel server recorded on Linux and played under Wine
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import e2e
from e2e import check, check_fields, program_environment, read_report, rgb_pixels, text_of, wait_until, windows_path, \
    write_rgb
from run_smoke import GOLDEN_SIZES, golden_run

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
    for size in GOLDEN_SIZES:
        runs = {}
        for name, command, path, run_env in (
                ("gl", [args.gl_program], str, program_environment()),
                ("d3d11", [args.emulator, args.d3d11_program], windows_path, dict(os.environ))):
            stem = f"content-{size[0]}x{size[1]}-{name}"
            shot, report = out / f"{stem}.bmp", out / f"{stem}.json"
            code = run([*command, "--smoke-test", *golden_run(size), f"--content={path(content_dir)}",
                        f"--screenshot={path(shot)}", f"--report={path(report)}", f"--log={path(out / f'{stem}.log')}"],
                       run_env)
            if code != 0 or not shot.is_file() or not report.is_file():
                print(f"FAIL: the {stem} run ended with exit code {code} without its frame and report")
                return 1
            runs[name] = shot, read_report(report)
        (gl, gl_report), (d3d11, d3d11_report) = runs["gl"], runs["d3d11"]
        check(compare(gl, d3d11, out), f"the GL and the Direct3D 11 frame at {size[0]} x {size[1]}")
        check_fields(d3d11_report["renderer"], {key: gl_report["renderer"][key] for key in SAME_RENDERER_COUNTS},
                     "Direct3D 11 renderer (GL's expected) ")
        check_fields(d3d11_report, {"scene": gl_report["scene"], "hud": gl_report["hud"]}, "Direct3D 11 (GL's expected) ")
    return e2e.finish()


REPLAY_KEYS = "10:+W,50:+D,80:-W,90:1,110:1,130:-D,140:2,200:+S,230:Space,260:-S,270:3"
REPLAY_FRAMES = 320


def replay(args):
    content_dir = Path(args.content).resolve()
    out = fresh_output(args.out, (args.gl_program, args.d3d11_program, content_dir / "MANIFEST"))
    if out is None:
        return 1
    server = Path(args.gl_program).parent / "kestrune-duel-server"
    sides = {"gl": ([args.gl_program], str, program_environment()),
             "d3d11": ([args.emulator, args.d3d11_program], windows_path, dict(os.environ))}

    def play(side, name, options):
        command, path, env = sides[side]
        shot, trace = out / f"{name}.bmp", out / f"{name}.jsonl"
        code = run([*command, "--smoke-test", f"--content={path(content_dir)}", "--width=640", "--height=360",
                    f"--screenshot={path(shot)}", f"--trace={path(trace)}", f"--log={path(out / f'{name}.log')}",
                    *[re.sub(r"^(--\w+=)@(.*)$", lambda m: m.group(1) + path(out / m.group(2)), o) for o in options]],
                   env)
        check(code == 0 and shot.is_file() and trace.is_file(), f"{name}: exit code {code}, a frame and a trace")
        return shot, trace.read_text().splitlines() if trace.is_file() else []

    def same(name, recorded, replayed):
        differ = next((i for i, (a, b) in enumerate(zip(recorded[1], replayed[1])) if a != b), None)
        check(len(recorded[1]) == len(replayed[1]) > 0 and differ is None,
              f"{name}: {len(replayed[1])} of {len(recorded[1])} trace lines, the first that differs "
              f"{differ is not None and (recorded[1][differ][:400], replayed[1][differ][:400])}")
        check(recorded[0].is_file() and replayed[0].is_file() and compare(recorded[0], replayed[0], out),
              f"{name}: the last frame")

    offline = ["--fixed-fps=60", f"--frames={REPLAY_FRAMES}", "--keys=" + REPLAY_KEYS]
    for recorder, player in (("gl", "d3d11"), ("d3d11", "gl")):
        recorded = play(recorder, f"offline-{recorder}", [*offline, f"--record=@offline-{recorder}.krpl"])
        replayed = play(player, f"offline-{recorder}-on-{player}",
                        [f"--frames={REPLAY_FRAMES}", f"--replay=@offline-{recorder}.krpl"])
        same(f"an offline duel recorded on {recorder}, replayed on {player}", recorded, replayed)

    log = out / "duel-server.log"
    duel = subprocess.Popen([server, "--listen=127.0.0.1:0", "--bot"], stdout=log.open("w"), stderr=subprocess.STDOUT)
    try:
        found = wait_until(lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)\b", text_of(log)), 20, 0.05)
        check(bool(found), "the duel server listens")
        if found:
            recorded = play("gl", "online-gl", [f"--frames={REPLAY_FRAMES}", f"--server=127.0.0.1:{found.group(1)}",
                                                "--keys=" + REPLAY_KEYS, "--record=@online-gl.krpl"])
            replayed = play("d3d11", "online-gl-on-d3d11", [f"--frames={REPLAY_FRAMES}", "--replay=@online-gl.krpl"])
            same("an online duel recorded on gl, replayed on d3d11", recorded, replayed)
    finally:
        duel.send_signal(signal.SIGINT)
        duel.wait(timeout=10)
    return e2e.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    for name, options in (("placeholder", ("gl-tests", "d3d11-tests", "emulator")),
                          ("content", ("gl-program", "d3d11-program", "emulator", "content")),
                          ("replay", ("gl-program", "d3d11-program", "emulator", "content"))):
        command = commands.add_parser(name)
        for option in options:
            command.add_argument(f"--{option}", required=True)
        command.add_argument("--out", required=True)
    args = parser.parse_args()
    return {"placeholder": placeholder, "content": content, "replay": replay}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
