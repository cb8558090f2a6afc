#!/usr/bin/env python3
"""Runs KestruneNative the way CI and players do and checks what it leaves behind.

linux: headless smoke runs (no DISPLAY, no WAYLAND_DISPLAY), which must render through
SDL's offscreen driver and report every frame. (The fatal path of a failed run is the app
suite's end-to-end case.)
wine: the Windows build under Wine 8, which lacks IDXGISwapChain2: the run must either end
cleanly or take the fatal path with exit code 1 and a failure report naming that failure.
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


def linux(program, out):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["ASAN_OPTIONS"] = "detect_leaks=0"  # Mesa keeps allocations until exit

    report, log = out / "smoke.json", out / "smoke.log"
    code = run([program, "--smoke-test", "--frames=30", f"--report={report}", f"--log={log}"], env)
    check(code == 0, f"30-frame smoke run exit code {code}, expected 0")
    data = read_report(report)
    renderer = data["renderer"]
    check(data["success"] is True, "report success")
    check(data["renderedFrames"] == 30, f"renderedFrames {data['renderedFrames']}")
    check(data["variableUpdates"] == 30, f"variableUpdates {data['variableUpdates']}")
    check(data["fixedUpdates"] <= 8 * 30, f"fixedUpdates {data['fixedUpdates']} above 8 per frame")
    check(renderer["flipModelEnabled"] is True, "flipModelEnabled")
    check(renderer["drawCalls"] == 30, f"drawCalls {renderer['drawCalls']}")
    check(renderer["triangles"] == 30, f"triangles {renderer['triangles']}")
    check(renderer["frameLatencyWaits"] == 30, f"frameLatencyWaits {renderer['frameLatencyWaits']}")
    check(data["featureLevel"].startswith("gl"), f"featureLevel {data['featureLevel']}")
    if "llvmpipe" in data["adapter"]:
        check(data["driverType"] == "warp", f"driverType {data['driverType']} for llvmpipe")
        check(renderer["msaaSampleCount"] == 4, f"msaaSampleCount {renderer['msaaSampleCount']} on llvmpipe")
    samples = renderer["msaaSampleCount"]
    check(renderer["antiAliasingResolves"] == (30 if samples > 1 else 0),
          f"antiAliasingResolves {renderer['antiAliasingResolves']} with {samples} samples")
    check(data["width"] == 1280 and data["height"] == 720, f"client size {data['width']}x{data['height']}")
    messages = log_messages(log)
    check(messages[:5] == ["[INFO] BootCoordinator start", "[INFO] Init Render Device",
                           f"[INFO] Render Device ready: {data['adapter']} / feature level {data['featureLevel']} / "
                           f"{data['driverType']}",
                           "[INFO] VertexShader HW Accel Enabled", "[INFO] Init Input Manager"],
          f"start-up log lines {messages[:5]}")
    shutdown = f"[INFO] Shutdown cleanly after 30 rendered frames and {data['fixedUpdates']} fixed updates"
    check(messages[-1] == shutdown, f"shutdown line {messages[-1]!r}")

    small = out / "small.json"
    code = run([program, "--smoke-test", "--frames=3", "--width=400", "--height=240", "--warp",
                f"--report={small}", f"--log={out / 'small.log'}"], env)
    check(code == 0, f"small smoke run exit code {code}")
    data = read_report(small)
    check(data["renderedFrames"] == 3, f"small run renderedFrames {data['renderedFrames']}")
    size = (data.get("width"), data.get("height"))
    check(size == (400, 240), f"small run size {size}")
    check(data["driverType"] == "warp", f"--warp driverType {data['driverType']}")


def wine(program, emulator, out):
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
