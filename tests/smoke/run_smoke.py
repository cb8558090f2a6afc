#!/usr/bin/env python3
"""Runs KestruneNative the way CI and players do and checks what it leaves behind.

linux: headless smoke runs (no DISPLAY, no WAYLAND_DISPLAY), which must render through SDL's offscreen driver and report
every frame: the placeholder frame, then the duel scene on the baked content (report, log, a screenshot against its
golden image). (A run that fails, on a missing character too, is the app and scene suites' case.)
window: the real window on a virtual X screen (run under xvfb-run), driven by keys that xdotool presses, paced by the
frames in its trace rather than by the clock (a busy machine, or Direct3D 11 on lavapipe, draws the duel at a few frames
per second); the trace must show the fighter run, stop and start the skill. With --emulator it is the Windows build's
Win32 window under Wine (which turns the X key events into WM_KEYDOWN and WM_KEYUP).
imported: glTF samples imported by kestrune-bake stand in for the warrior (CesiumMan), then also for the templar
(RiggedFigure), in copies of the baked content; the same headless duel must load, count and draw them. At frame 90 the
camera has settled behind the warrior and the skill's effects are gone, so whatever differs from a run with a 1 cm
warrior is the warrior: it must stand on the ground at its start, 1.8 m tall, and move between frames 80 and 90.
wine: the Windows build under Wine. On the Direct3D 11 runtime that the test scripts prepare (DXVK over lavapipe) the
same runs must render every frame through Direct3D 11: feature level 11_1, 4x multisampling, one frame-latency wait per
frame, and "warp" with --warp; then the duel scene on the Windows build's baked content with the Linux run's report
checks. (Its frame is compared with the GL one by frame_parity.py.) On plain Wine 8, which
lacks IDXGISwapChain2, the run must either end cleanly or take the fatal path with exit code 1 and a failure report
naming that failure; when the test scripts require the runtime (KESTRUNE_REQUIRE_D3D11_RUNTIME=1) that is a failure.
"""
import argparse
import math
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import e2e
from e2e import check, check_fields, failures, inspect, log_messages, program_environment, read_report, \
    read_trace, rgb_pixels, text_of, wait_until, windows_path

MISSING_SWAP_CHAIN2 = "IDXGISwapChain1::QueryInterface(IDXGISwapChain2) failed with HRESULT 0x80004002"
TIMEOUT_SECONDS = 240
XDOTOOL_TIMEOUT_SECONDS = 120
FRAME_WAIT_SECONDS = 180
# The golden frame: 24 fixed steps at 60 per second, the smoke skill landing, the HUD with its network overlay over it;
# at the smallest window the HUD is made for and at the largest.
GOLDEN_RUN = ["--content-smoke", "--fixed-fps=60", "--frames=24", "--net-overlay"]
GOLDEN_SIZES = ((640, 360), (2560, 1440))


def golden_run(size):
    return [*GOLDEN_RUN, f"--width={size[0]}", f"--height={size[1]}"]


def golden_image(size):
    return Path(__file__).parent / "golden" / f"content_frame_{size[0]}x{size[1]}.png"


# Where the golden frame shows each fighter (x0, y0, x1, y1) at 640 x 360 (scaled with the window): a missing one leaves
# floor there.
FIGHTER_BOXES = {"warrior": (295, 135, 340, 230), "templar": (420, 100, 460, 185)}
FLOOR_PIXEL = (60, 330)
# What the HUD of the golden run shows.
GOLDEN_HUD = {"text": True, "names": ["NativeFighter", "Templar"], "score": [0, 0], "round": 1, "banner": "Round 1",
              "overlay": True}



def run(command, env):
    return e2e.run(command, env, TIMEOUT_SECONDS).returncode


def launch_run(launch, out, name, args, program_path=str, codes=(0,)):
    """A run with report and log in `out` named after `name` that ends with one of the exit `codes`: report and log."""
    report, log = out / f"{name}.json", out / f"{name}.log"
    ended = launch([*args, f"--report={program_path(report)}", f"--log={program_path(log)}"])
    check(ended in codes, f"{name} run exit code {ended}, expected {' or '.join(map(str, codes))}")
    return read_report(report), log


def placeholder_run(launch, out, name, frames, size, feature_level, extra=()):
    """A clean run of the placeholder frame: every frame drawn once, paced and resolved; its report."""
    data, log = launch_run(launch, out, name, ["--smoke-test", f"--frames={frames}", *extra])
    renderer = data["renderer"]
    check_fields(data, {"success": True, "renderedFrames": frames, "variableUpdates": frames, "width": size[0],
                        "height": size[1], **({"driverType": "warp"} if "--warp" in extra else {})})
    check(data["fixedUpdates"] <= 8 * frames, f"fixedUpdates {data['fixedUpdates']} above 8 per frame")
    check(feature_level(data["featureLevel"]), f"featureLevel {data['featureLevel']}")
    resolves = frames if renderer["msaaSampleCount"] > 1 else 0  # one per frame when multisampled
    check_fields(renderer, {"flipModelEnabled": True, "drawCalls": frames, "triangles": frames,
                            "frameLatencyWaits": frames, "antiAliasingResolves": resolves}, "renderer ")
    # The start-up lines are the boot coordinator suite's; the last line says the real run ended cleanly.
    shutdown = f"[INFO] Shutdown cleanly after {frames} rendered frames and {data['fixedUpdates']} fixed updates"
    check(log_messages(log)[-1] == shutdown, f"shutdown line {log_messages(log)[-1]!r}")
    return data


def placeholder_runs(launch, out, feature_level, samples_for):
    """The 30-frame run at the default size, then a small --warp run."""
    data = placeholder_run(launch, out, "smoke", 30, (1280, 720), feature_level)
    if (expected_samples := samples_for(data)) is not None:
        check_fields(data["renderer"], {"msaaSampleCount": expected_samples}, f"on {data['adapter']}: renderer ")
    placeholder_run(launch, out, "small", 3, (400, 240), feature_level, ["--width=400", "--height=240", "--warp"])


def linux(program, bake, content_dir, out):
    launch = lambda args: run([program, *args], program_environment())

    def samples_for(data):
        if "llvmpipe" not in data["adapter"]:
            return None
        check(data["driverType"] == "warp", f"driverType {data['driverType']} for llvmpipe")
        return 4

    placeholder_runs(launch, out, lambda level: level.startswith("gl"), samples_for)
    content(launch, str, bake, content_dir, out)
    replays(launch, content_dir, out)


def replays(launch, content_dir, out):
    """An offline templar recorded and replayed: the same trace and picture. A recording made on content without a
    MANIFEST is refused on content with one."""
    common = ["--smoke-test", "--width=640", "--height=360"]
    for name, extra in (("recorded", ["--class=templar", "--fixed-fps=60", "--keys=5:+A,40:-A,45:3,80:1,100:+W,130:2",
                                      f"--record={out / 'templar.krpl'}"]),
                        ("replayed", [f"--replay={out / 'templar.krpl'}"])):
        code = launch([*common, "--frames=160", f"--content={content_dir}", f"--trace={out / name}.jsonl",
                       f"--screenshot={out / name}.bmp", f"--log={out / name}.log", *extra])
        check(code == 0, f"templar {name}: exit code {code}")
    traces = [text_of(out / f"{name}.jsonl") for name in ("recorded", "replayed")]
    check(traces[0] == traces[1] and traces[0].count("\n") == 160 and '"controlledSlot":1' in traces[0],
          "the templar's replay traces the same 160 frames")
    check((out / "recorded.bmp").read_bytes() == (out / "replayed.bmp").read_bytes(), "and draws the same last frame")
    bare = out / "bare-content"
    shutil.rmtree(bare, ignore_errors=True)
    bare.mkdir()
    for entry in Path(content_dir).iterdir():
        if entry.name != "MANIFEST":
            (bare / entry.name).symlink_to(entry.resolve())
    code = launch([*common, "--frames=3", f"--content={bare}", f"--record={out / 'bare.krpl'}"])
    refused = launch([*common, "--frames=3", f"--content={content_dir}", f"--replay={out / 'bare.krpl'}",
                      f"--log={out / 'bare-replayed.log'}"])
    check(code == 0 and refused == 1 and "recorded on other content" in text_of(out / "bare-replayed.log"),
          f"a recording without a MANIFEST is refused on content with one (exit codes {code}, {refused})")


def prepared_runtime(emulator):
    """The READY text of the Direct3D 11 runtime wine-exec will use, or None."""
    if os.environ.get("KESTRUNE_PLAIN_WINE") == "1":
        return None
    default = Path(emulator).resolve().parent.parent / "build" / "d3d11-runtime"
    ready = Path(os.environ.get("KESTRUNE_D3D11_RUNTIME_DIR", default)) / "READY"
    return ready.read_text().strip() if ready.is_file() else None


def inspect_counts(bake, model):
    found = re.findall(r"^  (meshes|clips) (\d+)$", inspect(bake, model), re.MULTILINE)
    return {key: int(value) for key, value in found}


def compare_to_golden(shot, golden, out):
    width, height, actual = rgb_pixels(shot)
    golden_width, golden_height, expected = rgb_pixels(golden)
    if not check((width, height) == (golden_width, golden_height),
                 f"screenshot {width}x{height}, golden {golden_width}x{golden_height}"):
        return
    differences = [abs(a - b) for a, b in zip(actual, expected)]
    mean = sum(differences) / len(differences)
    far = sum(1 for d in differences if d > 24) / len(differences)
    if not check(mean <= 1.0 and far <= 0.002,
                 f"screenshot differs from {golden.name}: mean {mean:.3f}, {100 * far:.3f}% beyond 24"):
        shutil.copy(shot, out / "golden-mismatch.bmp")
    # Independent of the golden: each fighter's box holds the fighter, not floor and grid.
    scale = width // 640
    for name, box in FIGHTER_BOXES.items():
        x0, y0, x1, y1 = (scale * edge for edge in box)
        floor_at = (scale * FLOOR_PIXEL[1] * width + scale * FLOOR_PIXEL[0]) * 3
        floor = actual[floor_at:floor_at + 3]
        figure = sum(1 for y in range(y0, y1) for x in range(x0, x1)
                     if sum(abs(actual[(y * width + x) * 3 + c] - floor[c]) for c in range(3)) > 90)
        share = figure / ((x1 - x0) * (y1 - y0))
        check(share > 0.2, f"{name} box: {100 * share:.1f}% of pixels unlike the floor")


def content_run_report(data, content_dir, bake):
    """A content smoke run that loaded and drew both characters of `content_dir` (the log is the host suite's)."""
    scene = data["scene"]
    counts = [inspect_counts(bake, content_dir / name / "character.kmdl") for name in ("warrior", "templar")]
    check_fields(data, {"success": True, "contentReady": True})
    check_fields(scene, {"charactersLoaded": 2, "effectModelsLoaded": 6,
                         "clipsAvailable": sum(c["clips"] for c in counts),
                         "meshesAvailable": sum(c["meshes"] for c in counts)}, "scene ")
    check(scene["effectsSpawned"] > 0, f"effectsSpawned {scene['effectsSpawned']} (the smoke skill)")


def content(launch, program_path, bake, content_dir, out, golden=True):
    """The golden runs on baked content (paths as `program_path` gives them): report, log, with `golden` their frames."""
    for size in GOLDEN_SIZES if golden else GOLDEN_SIZES[:1]:
        name = f"content-{size[0]}x{size[1]}"
        shot = out / f"{name}.bmp"
        data, _ = launch_run(launch, out, name, ["--smoke-test", *golden_run(size),
                                                 f"--content={program_path(content_dir)}",
                                                 *([f"--screenshot={program_path(shot)}"] if golden else [])],
                             program_path)
        content_run_report(data, content_dir, bake)
        check_fields(data, {"fixedUpdates": 24, "renderedFrames": 24}, "one fixed step per frame at 60 per second: ")
        check_fields(data, {"hud": GOLDEN_HUD})
        if golden and check(shot.exists(), "the golden run's screenshot"):
            compare_to_golden(shot, golden_image(size), out)


# Where the scene's camera settles behind the controlled fighter (offsets from its position, in metres) and its vertical
# field of view; the fighters' start positions.
FOLLOW_EYE_OFFSET = (0.0, 3.15, -6.4)
FOLLOW_TARGET_OFFSET = (0.0, 1.05, 0.4)
FIELD_OF_VIEW_Y_RADIANS = 0.78
WARRIOR_START = (-1.25, 0.0, -0.85)
TEMPLAR_START = (1.25, 0.0, 1.35)
IMPORTED_HEIGHT_METRES = 1.8
SETTLED_FRAMES = (80, 90)  # the camera is within 0.1 mm of its rest from frame 60 on
SHOT_SIZE = (640, 360)


def settled_projection(point, size):
    """Pixel column and row of a world point seen by the camera settled behind the warrior
    (left-handed: x to the right, y up, the camera looking along +z)."""
    eye = [w + o for w, o in zip(WARRIOR_START, FOLLOW_EYE_OFFSET)]
    target = [w + o for w, o in zip(WARRIOR_START, FOLLOW_TARGET_OFFSET)]
    unit = lambda v: [c / sum(x * x for x in v) ** 0.5 for c in v]
    cross = lambda a, b: [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]
    dot = lambda a, b: sum(x * y for x, y in zip(a, b))
    forward = unit([t - e for t, e in zip(target, eye)])
    right = unit(cross([0.0, 1.0, 0.0], forward))
    up = cross(forward, right)
    offset = [p - e for p, e in zip(point, eye)]
    depth, tangent = dot(offset, forward), math.tan(FIELD_OF_VIEW_Y_RADIANS / 2)
    return ((dot(offset, right) / (depth * tangent * size[0] / size[1]) + 1) / 2 * size[0],
            (1 - dot(offset, up) / (depth * tangent)) / 2 * size[1])


def differing_pixels(first, second, size):
    """(column, row) of every pixel where two same-sized shots differ clearly."""
    return [(i // 3 % size[0], i // 3 // size[0]) for i in range(0, len(first), 3)
            if sum(abs(first[i + c] - second[i + c]) for c in range(3)) > 30]


def imported(program, bake, content_dir, samples, out):
    env = program_environment()

    def import_into(content, name, sample, height, idle):
        shutil.rmtree(content / name)
        code = run([bake, "import", samples / f"{sample}.gltf", f"--out={content / name}", f"--class={name}",
                    f"--height={height}", f"--clip={idle}=#0"], env)
        check(code == 0, f"import of {sample} as the {name}: exit code {code}")

    def duel(content, frames, name):
        shot = out / f"{name}.bmp"
        data, _ = launch_run(lambda args: run([program, *args], env), out, name,
                             ["--content-smoke", "--smoke-test", "--fixed-fps=60", f"--frames={frames}",
                              f"--width={SHOT_SIZE[0]}", f"--height={SHOT_SIZE[1]}", f"--content={content}",
                              f"--screenshot={shot}"])
        if not check(shot.exists(), f"{name}: the screenshot"):
            raise SystemExit(1)
        content_run_report(data, content, bake)
        width, height, pixels = rgb_pixels(shot)
        check((width, height) == SHOT_SIZE, f"{name}: screenshot {width}x{height}")
        return pixels

    copies = {name: out / name for name in ("warrior", "small", "both")}
    for copy in copies.values():
        shutil.copytree(content_dir, copy)
    import_into(copies["warrior"], "warrior", "CesiumMan", IMPORTED_HEIGHT_METRES, "CH010301")
    import_into(copies["small"], "warrior", "CesiumMan", 0.01, "CH010301")
    import_into(copies["both"], "warrior", "CesiumMan", IMPORTED_HEIGHT_METRES, "CH010301")
    import_into(copies["both"], "templar", "RiggedFigure", IMPORTED_HEIGHT_METRES, "idle")
    if failures:
        raise SystemExit(1)

    early, last = SETTLED_FRAMES
    warrior = duel(copies["warrior"], last, "imported-warrior")
    small = duel(copies["small"], last, "small-warrior")
    figure = differing_pixels(warrior, small, SHOT_SIZE)
    check(len(figure) > 500, f"{len(figure)} pixels show the imported warrior")
    if figure:
        project = lambda x, y, z: settled_projection((WARRIOR_START[0] + x, y, WARRIOR_START[2] + z), SHOT_SIZE)
        columns, rows = [c for c, _ in figure], [r for _, r in figure]
        left, right, top, bottom = min(columns), max(columns), min(rows), max(rows)
        print(f"imported warrior: columns {left}..{right}, rows {top}..{bottom}")
        # A stride reaches 0.6 m ahead and behind; the head sways 0.2 m and bobs 0.1 m in the walk.
        feet = (project(0, 0, 0.6)[1], project(0, 0, -0.6)[1])
        check(feet[0] <= bottom <= feet[1], f"feet at row {bottom}, ground rows {feet[0]:.1f}..{feet[1]:.1f}")
        head = (project(0, IMPORTED_HEIGHT_METRES + 0.1, 0.2)[1], project(0, IMPORTED_HEIGHT_METRES - 0.1, -0.2)[1])
        check(head[0] <= top <= head[1], f"head at row {top}, rows {head[0]:.1f}..{head[1]:.1f} for 1.8 m")
        middle = (project(-0.2, 1.0, 0)[0], project(0.2, 1.0, 0)[0])
        check(middle[0] <= (left + right) / 2 <= middle[1],
              f"figure centred on column {(left + right) / 2}, the warrior's start {middle[0]:.1f}..{middle[1]:.1f}")
        earlier = duel(copies["warrior"], early, "imported-warrior-earlier")
        moved = differing_pixels(warrior, earlier, SHOT_SIZE)
        # The floor in front of both fighters stays put, so the camera is still; the warrior moves.
        check(not [r for _, r in moved if r > feet[1]], f"the floor changes from frame {early} to {last}")
        pose = [p for p in moved if left <= p[0] <= right and top <= p[1] <= bottom]
        check(len(pose) > 200, f"{len(pose)} pixels of the warrior change from frame {early} to {last}")

    both = duel(copies["both"], last, "imported-both")
    changed = differing_pixels(both, warrior, SHOT_SIZE)
    # Where the baked templar or the imported one stands: its staff reaches 2.5 m, arms 0.8 m.
    body = (settled_projection((TEMPLAR_START[0] - 0.8, 2.5, TEMPLAR_START[2]), SHOT_SIZE),
            settled_projection((TEMPLAR_START[0] + 0.8, 0.0, TEMPLAR_START[2]), SHOT_SIZE))
    inside = [p for p in changed if body[0][0] <= p[0] <= body[1][0] and body[0][1] <= p[1] <= body[1][1]]
    check(len(inside) > 200, f"{len(inside)} pixels show the imported templar")
    check(len(inside) == len(changed), f"{len(changed) - len(inside)} pixels changed beside the templar")


def window(program, content_dir, out, emulator=None):
    """Keys into the real window: W for 20 frames, then 2, then F3; Escape ends the run."""
    if emulator is not None and prepared_runtime(emulator) is None:
        return check(False, "the Windows window needs the Direct3D 11 runtime (scripts/prepare-d3d11-runtime)")
    env = dict(os.environ) if emulator else program_environment(headless=False)
    trace = out / "window.jsonl"
    program_path = windows_path if emulator else str
    command = [*([emulator] if emulator else []), program, "--fixed-fps=60", "--no-vsync", "--width=640",
               "--height=360", f"--content={program_path(content_dir)}", f"--trace={program_path(trace)}",
               f"--report={program_path(out / 'window.json')}", f"--log={program_path(out / 'window.log')}"]
    print("run:", " ".join(str(part) for part in command))
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)

    def wait(frames):
        """Waits for `frames` more frames to be presented, read from the trace."""
        target = len(read_trace(trace)) + frames
        wait_until(lambda: len(read_trace(trace)) >= target or process.poll() is not None, FRAME_WAIT_SECONDS, 0.05)
        if len(read_trace(trace)) < target:
            raise RuntimeError(f"{trace}: {len(read_trace(trace))} frames, waited for {target}")

    xdotool = lambda *args: subprocess.run(["xdotool", *args], env=env, check=True, timeout=XDOTOOL_TIMEOUT_SECONDS,
                                           stdout=subprocess.PIPE, text=True).stdout

    try:
        window_id = xdotool("search", "--sync", "--onlyvisible", "--name", "Kestrune Online").split()[0]
        check(xdotool("getwindowname", window_id).strip() == "Kestrune Online - Native Combat Runtime", "window title")
        xdotool("windowfocus", "--sync", window_id)
        wait(3)
        for keys, frames in ((("keydown", "w"), 20), (("keyup", "w"), 10), (("key", "2"), 10), (("key", "F3"), 5),
                             (("key", "Escape"), 0)):
            print(f"xdotool {' '.join(keys)} after frame {len(read_trace(trace))}")
            xdotool(*keys)
            wait(frames)
        code = process.wait(timeout=60)
    except (RuntimeError, subprocess.TimeoutExpired) as error:  # or the program ignoring Escape, xdotool no window
        return check(False, f"the run stalled or timed out: {error}")
    finally:
        if process.poll() is None:
            process.kill()
    check(code == 0, f"window run exit code {code}")
    frames = read_trace(trace)
    check([frame["steps"] for frame in frames] == [1] * len(frames), "one fixed step per frame at 60 per second")
    overlay = [frame["hud"]["overlay"] for frame in frames]
    check(overlay[:1] == [False] and overlay[-1:] == [True] and overlay == sorted(overlay),
          "F3 shows the network overlay, once")
    local = [(frame["frame"], frame["slots"][0]) for frame in frames]
    steps = [(n, b["z"] - a["z"], b["x"] - a["x"]) for (_, a), (n, b) in zip(local, local[1:])]
    running = [n for n, dz, dx in steps if abs(dz - 4.65 / 60) < 1e-4 and abs(dx) < 1e-6]
    skill = [n for n, slot in local if slot["action"] == 2]
    print(f"moving in frames {running[:1]} to {running[-1:]}, skill from frame {skill[:1]}, {len(frames)} frames")
    check(len(running) >= 10, f"{len(running)} frames moving +z at 4.65 m/s")
    if running:
        stopped = [n for n, dz, _ in steps if n > running[-1] and dz == 0]
        check(bool(stopped) and all(dz == 0 for n, dz, _ in steps if n > running[-1]), "the fighter stops")
        check(bool(skill) and skill[0] > running[-1], f"skill action after the run (frames {skill[:1]})")


def wine(program, emulator, bake, content_dir, out):
    runtime = prepared_runtime(emulator)
    launch = lambda args: run([emulator, program, *args], dict(os.environ))
    if runtime is not None:
        print("Direct3D 11 runtime:", " ".join(runtime.split()))
        placeholder_runs(launch, out, lambda level: level == "11_1", lambda data: 4)
        content(launch, windows_path, bake, content_dir, out, golden=False)
        return

    check(os.environ.get("KESTRUNE_REQUIRE_D3D11_RUNTIME") != "1",
          "the Direct3D 11 runtime is required but not prepared (scripts/prepare-d3d11-runtime)")
    data, _ = launch_run(launch, out, "wine", ["--smoke-test", "--frames=5"], codes=(0, 1))
    if data["success"]:
        check_fields(data, {"renderedFrames": 5})
    else:  # the failure report and log in full are the app suite's fatal-path case, under Wine too
        check_fields(data, {"error": MISSING_SWAP_CHAIN2})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("linux", "window", "wine", "imported"), required=True)
    for option in ("--program", "--out"):
        parser.add_argument(option, type=Path, required=True)
    for option in ("--bake", "--content", "--emulator"):
        parser.add_argument(option, type=Path)
    parser.add_argument("--samples", type=Path, help="folder of the glTF samples")
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    args.out.mkdir(parents=True)
    {"linux": lambda: linux(args.program, args.bake, args.content, args.out),
     "window": lambda: window(args.program, args.content, args.out, emulator=args.emulator),
     "imported": lambda: imported(args.program, args.bake, args.content, args.samples, args.out),
     "wine": lambda: wine(args.program, args.emulator, args.bake, args.content, args.out)}[args.mode]()
    return e2e.finish()


if __name__ == "__main__":
    sys.exit(main())
