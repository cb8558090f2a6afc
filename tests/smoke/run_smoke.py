#!/usr/bin/env python3
"""Runs KestruneNative the way CI and players do and checks what it leaves behind.

linux: headless smoke runs (no DISPLAY, no WAYLAND_DISPLAY), which must render through
SDL's offscreen driver and report every frame. (The fatal path of a failed run is the app
suite's end-to-end case.)
wine: the Windows build under Wine. On the Direct3D 11 runtime that the test scripts prepare
(DXVK over lavapipe) the same runs must render every frame through Direct3D 11: feature
level 11_1, 4x multisampling, one frame-latency wait per frame, and "warp" with --warp.
On plain Wine 8, which lacks IDXGISwapChain2, the run must either end cleanly or take the
fatal path with exit code 1 and a failure report naming that failure; when the test
scripts require the runtime (KESTRUNE_REQUIRE_D3D11_RUNTIME=1) that is a failure.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

MISSING_SWAP_CHAIN2 = "IDXGISwapChain1::QueryInterface(IDXGISwapChain2) failed with HRESULT 0x80004002"
TIMEOUT_SECONDS = 240

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def run(command, env):
    print("run:", " ".join(str(part) for part in command))
    completed = subprocess.run(command, env=env, timeout=TIMEOUT_SECONDS, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    print(completed.stdout[-4000:])
    return completed.returncode


def read_report(path):
    try:
        return json.loads(path.read_text())
    except (OSError, ValueError) as error:
        check(False, f"report {path}: {error}")
        raise SystemExit(1)


def log_messages(path):
    # Lines read "2026-03-01T08:15:42Z [INFO] text"; the timestamp is 21 characters with its space.
    return [line.rstrip("\n")[21:] for line in path.open(encoding="latin-1")]


def check_placeholder_run(data, log, frames, size, feature_level, warp=False):
    """A clean run of the placeholder frame: every frame drawn once, paced and resolved."""
    renderer = data["renderer"]
    check(data["success"] is True, "report success")
    check(data["renderedFrames"] == frames, f"renderedFrames {data['renderedFrames']}")
    check(data["variableUpdates"] == frames, f"variableUpdates {data['variableUpdates']}")
    check(data["fixedUpdates"] <= 8 * frames, f"fixedUpdates {data['fixedUpdates']} above 8 per frame")
    check(renderer["flipModelEnabled"] is True, "flipModelEnabled")
    check(renderer["drawCalls"] == frames, f"drawCalls {renderer['drawCalls']}")
    check(renderer["triangles"] == frames, f"triangles {renderer['triangles']}")
    check(renderer["frameLatencyWaits"] == frames, f"frameLatencyWaits {renderer['frameLatencyWaits']}")
    check(feature_level(data["featureLevel"]), f"featureLevel {data['featureLevel']}")
    if warp:
        check(data["driverType"] == "warp", f"--warp driverType {data['driverType']}")
    samples = renderer["msaaSampleCount"]
    check(renderer["antiAliasingResolves"] == (frames if samples > 1 else 0),
          f"antiAliasingResolves {renderer['antiAliasingResolves']} with {samples} samples")
    check((data.get("width"), data.get("height")) == size, f"client size {data.get('width')}x{data.get('height')}")
    messages = log_messages(log)
    check(messages[:5] == ["[INFO] BootCoordinator start", "[INFO] Init Render Device",
                           f"[INFO] Render Device ready: {data['adapter']} / feature level {data['featureLevel']} / "
                           f"{data['driverType']}",
                           "[INFO] VertexShader HW Accel Enabled", "[INFO] Init Input Manager"],
          f"start-up log lines {messages[:5]}")
    shutdown = f"[INFO] Shutdown cleanly after {frames} rendered frames and {data['fixedUpdates']} fixed updates"
    check(messages[-1] == shutdown, f"shutdown line {messages[-1]!r}")


def placeholder_runs(launch, out, feature_level, samples_for):
    """The 30-frame run at the default size, then a small --warp run."""
    report, log = out / "smoke.json", out / "smoke.log"
    code = launch(["--smoke-test", "--frames=30", f"--report={report}", f"--log={log}"])
    check(code == 0, f"30-frame smoke run exit code {code}, expected 0")
    data = read_report(report)
    check_placeholder_run(data, log, 30, (1280, 720), feature_level)
    expected_samples = samples_for(data)
    if expected_samples is not None:
        samples = data["renderer"]["msaaSampleCount"]
        check(samples == expected_samples, f"msaaSampleCount {samples} on {data['adapter']}")

    small, small_log = out / "small.json", out / "small.log"
    code = launch(["--smoke-test", "--frames=3", "--width=400", "--height=240", "--warp",
                   f"--report={small}", f"--log={small_log}"])
    check(code == 0, f"small smoke run exit code {code}")
    check_placeholder_run(read_report(small), small_log, 3, (400, 240), feature_level, warp=True)


def linux(program, out):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["ASAN_OPTIONS"] = "detect_leaks=0"  # Mesa keeps allocations until exit

    def launch(args):
        return run([program, *args], env)

    def samples_for(data):
        if "llvmpipe" not in data["adapter"]:
            return None
        check(data["driverType"] == "warp", f"driverType {data['driverType']} for llvmpipe")
        return 4

    placeholder_runs(launch, out, lambda level: level.startswith("gl"), samples_for)


def prepared_runtime(emulator):
    """The READY text of the Direct3D 11 runtime wine-exec will use, or None."""
    if os.environ.get("KESTRUNE_PLAIN_WINE") == "1":
        return None
    default = Path(emulator).resolve().parent.parent / "build" / "d3d11-runtime"
    ready = Path(os.environ.get("KESTRUNE_D3D11_RUNTIME_DIR", default)) / "READY"
    return ready.read_text().strip() if ready.is_file() else None


def wine(program, emulator, out):
    runtime = prepared_runtime(emulator)
    if runtime is not None:
        print("Direct3D 11 runtime:", " ".join(runtime.split()))

        def launch(args):
            return run([emulator, program, *args], dict(os.environ))

        placeholder_runs(launch, out, lambda level: level == "11_1", lambda data: 4)
        return

    check(os.environ.get("KESTRUNE_REQUIRE_D3D11_RUNTIME") != "1",
          "the Direct3D 11 runtime is required but not prepared (scripts/prepare-d3d11-runtime)")
    report, log = out / "wine.json", out / "wine.log"
    code = run([emulator, program, "--smoke-test", "--frames=5", f"--report={report}", f"--log={log}"],
               dict(os.environ))
    check(code in (0, 1), f"exit code {code}, expected 0 or 1")
    data = read_report(report)
    if code == 0:
        check(data["success"] is True and data["renderedFrames"] == 5, "clean run reports 5 frames")
    else:
        check(data["success"] is False, "failed run reports success false")
        check(data["error"] == MISSING_SWAP_CHAIN2, f"error {data['error']!r}")
        check(data["renderer"]["msaaSampleCount"] == 1, "failure report's msaaSampleCount")
        check(log_messages(log)[-1] == f"[ERROR] {MISSING_SWAP_CHAIN2}", "failure logged at ERROR")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("linux", "wine"), required=True)
    parser.add_argument("--program", type=Path, required=True)
    parser.add_argument("--emulator", type=Path)
    parser.add_argument("--out", type=Path, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    args.out.mkdir(parents=True)
    if args.mode == "linux":
        linux(args.program, args.out)
    else:
        wine(args.program, args.emulator, args.out)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
