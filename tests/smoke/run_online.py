#!/usr/bin/env python3
"""The online duel end to end: the built program against kestrune-duel-server --bot on
loopback, headless and in real time, directly and through kestrune-net-relay, read back
through its frame trace, report and log.

clean: snapshots at the server's rate, the smoke skill confirmed, the bot's hits landing,
  no correction snaps, the remote fighter moving smoothly.
relay: 50 ms each way with 15 ms of jitter: the local fighter moves in the frame of its key
  and stops in the frame of its release, corrections only glide, and the command round trip
  is the relay's.
stall: the link frozen for a second: the remote fighter holds, then catches up without a
  jump, and every combat event arrives once, in order.
killed: the server killed mid-run: one WARN line, exit 0, a quick end.
play: ./scripts/play headless, online by default and with --offline, and killed hard mid-run.
"""
import argparse
import json
import math
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

TIMEOUT_SECONDS = 120
STEP_SECONDS = 1.0 / 60.0
RUN_SPEED = {0: 4.65, 1: 4.35}  # metres per second by slot: warrior, templar
failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


class Background:
    """A tool that prints "listening on 127.0.0.1:PORT" once it is ready."""

    def __init__(self, command, log):
        self.log = log
        self.process = subprocess.Popen(command, stdout=log.open("w"), stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        self.port = None
        while self.port is None and time.monotonic() < deadline and self.process.poll() is None:
            match = re.search(r"listening on 127\.0\.0\.1:(\d+)\b", log.read_text())
            self.port = int(match.group(1)) if match else None
            time.sleep(0.05)
        if self.port is None:
            raise SystemExit(f"{command[0]} did not start: {log.read_text()}")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


def environment():
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["ASAN_OPTIONS"] = "detect_leaks=0"  # Mesa keeps allocations until exit
    return env


def play_online(bin_dir, content, out, name, frames, extra=(), relay=None, during=None):
    """Runs the program against a fresh bot server (through a relay when given its options)."""
    server = Background([bin_dir / "kestrune-duel-server", "--listen=127.0.0.1:0", "--bot"], out / f"{name}-server.log")
    tools = [server]
    port = server.port
    if relay is not None:
        relay_tool = Background([bin_dir / "kestrune-net-relay", f"--to=127.0.0.1:{server.port}", *relay],
                                out / f"{name}-relay.log")
        tools.append(relay_tool)
        port = relay_tool.port
    trace, report, log = out / f"{name}.jsonl", out / f"{name}.json", out / f"{name}.log"
    command = [bin_dir / "KestruneNative", "--smoke-test", f"--frames={frames}", f"--content={content}",
               f"--server=127.0.0.1:{port}", "--width=640", "--height=360", f"--trace={trace}", f"--report={report}",
               f"--log={log}", *extra]
    print("run:", " ".join(str(part) for part in command))
    started = time.monotonic()
    try:
        program = subprocess.Popen(command, env=environment(), stdin=subprocess.DEVNULL)
        if during is not None:
            during(server, program)
        code = program.wait(timeout=TIMEOUT_SECONDS)
    finally:
        for tool in tools:
            tool.stop()
    frames_seen = [json.loads(line) for line in trace.open()] if trace.exists() else []
    messages = [line.rstrip("\n")[21:] for line in log.open(encoding="latin-1")] if log.exists() else []
    return code, time.monotonic() - started, frames_seen, messages


def drawn_time(frame):
    """When the frame's drawn positions stand: alpha of the way into the last fixed step."""
    return frame["time"] - STEP_SECONDS + frame["alpha"] * STEP_SECONDS


def largest_remote_jump(frames, slot, limit_factor):
    """The worst frame-to-frame move of `slot` against limit_factor x its run speed, counted
    from the frame after its first sample placed it."""
    started = [i for i, f in enumerate(frames) if f["net"]["remoteSamples"] > 0]
    worst = (0.0, None)
    for a, b in zip(frames[started[0] + 1:], frames[started[0] + 2:]) if started else []:
        seconds = drawn_time(b) - drawn_time(a)
        distance = math.dist((a["slots"][slot]["x"], a["slots"][slot]["z"]), (b["slots"][slot]["x"], b["slots"][slot]["z"]))
        allowed = limit_factor * RUN_SPEED[slot] * max(seconds, 0.0) + 0.01
        if distance - allowed > worst[0]:
            worst = (distance - allowed, b["frame"])
    return worst


def network_line(messages):
    lines = [m for m in messages if m.startswith("[INFO] Network: ")]
    return lines[-1] if lines else ""


def clean(bin_dir, content, out):
    code, seconds, frames, messages = play_online(bin_dir, content, out, "clean", 150)
    check(code == 0, f"clean run exit code {code}")
    last = frames[-1]
    local = last["controlledSlot"]
    check(last["scene"]["authoritativeSnapshots"] > 0 and all(s["entityId"] > 0 for s in last["slots"]),
          "the server is authoritative and names both fighters")
    rate = last["session"]["snapshotsPerSecond"]
    check(27.0 <= rate <= 33.0, f"snapshots at {rate:.2f} per second (30 within 10 %)")
    first_snapshot = next(f["frame"] for f in frames if f["scene"]["authoritativeSnapshots"] > 0)
    skill = [f["frame"] for f in frames if f["slots"][local]["action"] == 2]
    check(bool(skill) and skill[0] >= first_snapshot,
          f"the smoke skill starts once the first snapshot is in (frame {skill[:1]}, snapshot in frame {first_snapshot})")
    check(last["net"]["confirmedLocalActions"] >= 1, "the server confirms it with an action-started event")
    check(not any("Server rejected command" in m for m in messages), "no command rejected")
    lowest = min(f["slots"][local]["health"] for f in frames if f["scene"]["authoritativeSnapshots"] > 0)
    check(lowest < 1000, f"the bot's hits lower the local health (to {lowest})")
    check(last["net"]["snaps"] == 0, f"no correction snaps ({last['net']['snaps']})")
    excess, frame = largest_remote_jump(frames, 1 - local, 1.5)
    check(excess <= 0.0, f"the remote fighter never moves faster than 1.5 times its run speed (worst excess "
                         f"{excess:.3f} m at frame {frame})")
    check(network_line(messages) != "", f"the Network line: {network_line(messages)}")


def relay(bin_dir, content, out):
    # Away from the bot from frame 5 for 40 frames, then still: the bot never reaches the
    # running fighter, so nothing but the keys holds it.
    code, seconds, frames, messages = play_online(bin_dir, content, out, "relay", 110, ["--keys=5:+S,45:-S"],
                                                  ["--delay-ms=50", "--jitter-ms=15", "--seed=3"])
    check(code == 0, f"relay run exit code {code}")
    local = frames[-1]["controlledSlot"]
    by_frame = {f["frame"]: f for f in frames}
    z = {n: f["slots"][local]["z"] for n, f in by_frame.items()}
    busy = {n: f["slots"][local]["action"] != 0 or f["slots"][local]["locked"] for n, f in by_frame.items()}
    placed = next(f["frame"] for f in frames if f["scene"]["authoritativeSnapshots"] > 0)
    # The key goes down at frame 5. The fighter moves in the first frame after that in which
    # it is free (the smoke skill or the bot's lock may hold it first): no round trip first.
    first = next((n for n in range(max(5, placed + 1), 45) if z[n] < z[n - 1]), None)
    # Free from the start of frame `free`, or during the frame before (the trace shows frame ends).
    free = next((n for n in range(max(5, placed + 1), 45) if not busy[n - 1]), None)
    check(first is not None and free is not None and free - 1 <= first <= free,
          f"the fighter starts running in the frame of the key, or as soon as it is free, not a round trip "
          f"later (frame {first}, free from frame {free})")
    # From then on the drawn fighter covers its run speed times the drawn time, frame by frame.
    speed = RUN_SPEED[local]
    off = []
    for n in range((first or 45) + 1, 45):
        expected = speed * (drawn_time(by_frame[n]) - drawn_time(by_frame[n - 1]))
        if abs((z[n - 1] - z[n]) - expected) > 0.001:
            off.append((n, round(z[n - 1] - z[n], 4), round(expected, 4)))
    check(first is not None and not off, f"it runs at {speed} m/s every frame until the release (off: {off[:4]})")
    # Let go at frame 45. What it still covers: the rest of its last step, and the server's
    # word on where it stopped, which runs longer than the prediction by the difference of the
    # frames that sent the move and the stop (intents go out at the start of the next frame),
    # the jitter, and up to a tick (the server moves in whole ticks).
    seconds = lambda n: by_frame[n]["steps"] * STEP_SECONDS
    allowed = speed * (STEP_SECONDS + seconds(45) + (1.0 / 30.0) + 0.015) + 0.001
    after = z[45] - min(z[n] for n in range(45, 56))
    check(after <= allowed, f"it stops at the release ({after:.3f} m further; up to {allowed:.3f} m allowed)")
    last = frames[-1]["net"]
    check(last["snaps"] == 0, f"corrections only glide ({last['glides']} glides, 0 snaps, largest "
                              f"{last['largestCorrection']:.3f} m)")
    session = frames[-1]["session"]
    check(session["roundTrips"] >= 2 and 100.0 <= session["roundTripAverageMs"] <= 100.0 + 2 * 15 + 10,
          f"round trip {session['roundTripAverageMs']:.1f} ms on average over {session['roundTrips']} commands "
          f"(100 ms plus the jitter)")
    print(network_line(messages))


def stall(bin_dir, content, out):
    code, seconds, frames, messages = play_online(bin_dir, content, out, "stall", 160, ["--keys=30:+S,110:-S"],
                                                  ["--stall-after-ms=2500", "--stall-ms=1000"])
    check(code == 0, f"stall run exit code {code}")
    local = frames[-1]["controlledSlot"]
    last = frames[-1]["net"]
    check(last["heldSteps"] >= 30, f"the remote fighter waits through the stall ({last['heldSteps']} steps held)")
    excess, frame = largest_remote_jump(frames, 1 - local, 2.2)
    check(excess <= 0.0, f"then catches up at no more than twice its pace, without a jump (worst excess "
                         f"{excess:.3f} m at frame {frame})")
    check(last["snaps"] == 0, "no correction snaps")
    check(last["eventIdBreaks"] == 0 and last["lastEventId"] > 0,
          f"every combat event arrived once and in order (up to id {last['lastEventId']})")
    print(network_line(messages))


def killed(bin_dir, content, out):
    def kill_after_join(server, program):
        time.sleep(2.0)
        server.process.kill()

    code, seconds, frames, messages = play_online(bin_dir, content, out, "killed", 150, during=kill_after_join)
    check(code == 0, f"killed-server run exit code {code}")
    ended = [m for m in messages if m.startswith("[WARN] Duel session ended: ")]
    check(len(ended) == 1, f"one WARN line: {ended}")
    check(frames[-1]["frame"] == 150 and not frames[-1]["session"]["running"], "it renders on to its last frame")
    check(seconds < 60, f"and ends in {seconds:.1f} s")


def play(root, bin_dir, out):
    env = environment()
    env["KESTRUNE_PLAY_BUILD_DIR"] = str(bin_dir.parent)
    for mode in ("online", "offline"):
        env["KESTRUNE_PLAY_OUT"] = str(out / f"play-{mode}")
        command = [root / "scripts" / "play", *(["--offline"] if mode == "offline" else [])]
        print("run:", " ".join(str(part) for part in command))
        completed = subprocess.run(command, env=env, timeout=TIMEOUT_SECONDS, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace")
        print(completed.stdout[-1500:])
        check(completed.returncode == 0, f"play {mode}: exit code {completed.returncode}")
        report = json.loads((out / f"play-{mode}" / "play-report.json").read_text())
        shot = out / f"play-{mode}" / "play.png"
        check(shot.exists() and shot.read_bytes()[:4] == b"\x89PNG", f"play {mode}: PNG screenshot written")
        snapshots = report["scene"]["authoritativeSnapshots"]
        check((snapshots > 0) == (mode == "online"), f"play {mode}: {snapshots} snapshots")
        check(f"{report['renderedFrames']} frames" in completed.stdout and "screenshot of the last frame" in
              completed.stdout, f"play {mode}: the summary")
        told = re.search(r"\d+ server snapshots applied \(the newest of each frame; \d+ received", completed.stdout)
        check((told is not None) == (mode == "online"), f"play {mode}: snapshots applied and received told apart")
    log = (out / "play-online" / "duel-server.log").read_text()
    check("with bots" in log and "joined" in log, "play online: the bot's server took the program in")

    # play killed hard mid-run: the launcher passes it on, the program closes and the server stops.
    env["KESTRUNE_PLAY_OUT"] = str(out / "play-killed")
    played = subprocess.Popen([root / "scripts" / "play", "--frames=10000"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace")
    port = None
    while port is None and (line := played.stdout.readline()):
        found = re.search(r"local duel server, 127\.0\.0\.1:(\d+)", line)
        port = int(found.group(1)) if found else None
    server_log = out / "play-killed" / "duel-server.log"
    deadline = time.monotonic() + TIMEOUT_SECONDS
    while "joined" not in server_log.read_text() and time.monotonic() < deadline:
        time.sleep(0.1)
    played.kill()
    played.wait()
    deadline = time.monotonic() + 30
    while "server stopped" not in server_log.read_text() and time.monotonic() < deadline:
        time.sleep(0.1)
    check(port is not None and "server stopped" in server_log.read_text(), f"play killed: its server on {port} stops")
    report = out / "play-killed" / "play-report.json"
    while not report.exists() and time.monotonic() < deadline:
        time.sleep(0.1)
    data = json.loads(report.read_text()) if report.exists() else {"success": False, "renderedFrames": None}
    check(data["success"] and data["renderedFrames"] < 10000,
          f"play killed: the program closed itself after {data['renderedFrames']} frames")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", type=Path, required=True)
    parser.add_argument("--content", type=Path, required=True)
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("scenarios", nargs="*", default=["clean", "relay", "stall", "killed", "play"])
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    root = Path(__file__).resolve().parents[2]
    for name in args.scenarios:
        print(f"== {name}")
        if name == "play":
            play(root, args.bin, args.out)
        else:
            globals()[name](args.bin, args.content, args.out)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
