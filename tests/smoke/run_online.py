#!/usr/bin/env python3
"""The online duel end to end: the built program against kestrune-duel-server on loopback, headless and in real time,
directly and through kestrune-net-relay, read back through its frame trace, report and log. Every check follows what the
trace shows, not how fast the machine draws: a scenario that can only be judged once something has happened first finds
that frame in the trace.

clean: against the bot at loopback: snapshots at the server's rate, the smoke skill confirmed, the bot's hits landing,
  no correction snaps.
chase: the fighter runs from the bot and round it at loopback: the opponent runs after it (it does not glide in its idle
  pose) and never faster than its catch-up allows.
actions: 100 ms round trip with jitter, against a bot that stands still: the fighter runs in the frame of its key, with
  its move sent in that frame; then it lets go of its direction during a skill, a heavy attack, a jump and a basic
  attack, and each time the server's fighter stands where the drawn one stopped, and stays there.
stall: the chase at 100 ms with jitter, the link frozen for 2.5 s: within half a second of the link's return the
  opponent is back two ticks behind the newest snapshot, every combat event arrives once and in order, and the opponent
  runs rather than glides.
killed: the server killed mid-run: one WARN line, exit 0, a quick end.
knockout: the bot beats a warrior who does nothing (but the smoke run's skill): the warrior falls, stays down holding
  its knock-down pose and stands at its start when the server restarts the round, the HUD showing "K.O." and the
  bot's round from the fall and "Round 2" from the restart; followed through the trace as it is
  written, then ended by SIGTERM.
play: ./scripts/play headless, online by default and with --offline, and killed hard mid-run.
"""
import argparse
import math
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

import e2e
from e2e import check, clip_seconds, launcher_port, log_messages, program_environment as environment, read_report, \
    read_trace, text_of, wait_until

TIMEOUT_SECONDS = 180
KNOCKOUT_WAIT_SECONDS = 90  # the bot wins a round in about ten
FRAMES_AFTER_RESTART = 10
STEP_SECONDS = 1.0 / 60.0
TICK_SECONDS = 1.0 / 30.0
FREEZE_LAG_TICKS = 10  # a playback further behind than this jumps to the newest snapshot
RUN_SPEED = {0: 4.65, 1: 4.35}  # metres per second by slot: warrior, templar
AGREE_METRES = 0.03
WARRIOR_SERVER_START = (-2.0, 0.0)  # where the duel server starts every round's warrior (x, z)
BODY_METRES = 0.9  # the least distance between the fighters' centres


class Background:
    """A tool that prints "listening on 127.0.0.1:PORT" once it is ready."""

    def __init__(self, command, log):
        self.process = subprocess.Popen(command, stdout=log.open("w"), stderr=subprocess.STDOUT)
        found = wait_until(lambda: self.process.poll() is not None or
                           re.search(r"listening on 127\.0\.0\.1:(\d+)\b", text_of(log)), 20, 0.05)
        self.port = int(found.group(1)) if isinstance(found, re.Match) else None
        if self.port is None:
            self.stop()
            raise SystemExit(f"{command[0]} did not start: {log.read_text()}")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


def play_online(bin_dir, content, out, name, frames, extra=(), relay=None, bot="--bot", during=lambda *_: None,
                smoke=True):
    """Runs the program against a fresh server (through a relay when given its options), checks
    that it ends with exit code 0 and returns its trace's frames, its log and the seconds it took.
    Without `smoke` it is a player's run in a window of a virtual X screen, which `during` ends."""
    trace, report, log = out / f"{name}.jsonl", out / f"{name}.json", out / f"{name}.log"
    trace.unlink(missing_ok=True)  # followed from its first line: not an earlier run's
    tools = []
    started = time.monotonic()
    try:
        tools.append(Background([bin_dir / "kestrune-duel-server", "--listen=127.0.0.1:0", bot],
                                out / f"{name}-server.log"))
        if relay is not None:
            tools.append(Background([bin_dir / "kestrune-net-relay", f"--to=127.0.0.1:{tools[0].port}", *relay],
                                    out / f"{name}-relay.log"))
        run = ["--smoke-test", f"--frames={frames}"] if smoke else []
        command = [bin_dir / "KestruneNative", *run, f"--content={content}",
                   f"--server=127.0.0.1:{tools[-1].port}", "--width=640", "--height=360", f"--trace={trace}",
                   f"--report={report}", f"--log={log}", *extra]
        print("run:", " ".join(str(part) for part in command)[:2000])
        if not smoke:
            command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", *command]
        env = environment(headless=smoke)
        if not smoke:
            # A long run's memory is read from outside: AddressSanitizer's quarantine of freed blocks
            # would otherwise grow it for minutes by what the program rightly gave back.
            env["ASAN_OPTIONS"] += ":quarantine_size_mb=4:thread_local_quarantine_size_kb=64"
        program = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL)
        during(tools[0], program)
        code = program.wait(timeout=TIMEOUT_SECONDS)
    finally:
        for tool in tools:
            tool.stop()
    frames_seen = read_trace(trace)
    messages = log_messages(log) if log.exists() else []
    print(network_line(messages))
    check(code == 0, f"{name} run exit code {code}")
    return frames_seen, messages, time.monotonic() - started


def real_time(frame):
    """The frame's time as the server lives it: the simulated steps and the time the loop dropped (a machine too slow
    for its frames drops some, but the server plays on)."""
    return frame["time"] + frame["dropped"]


def drawn_time(frame):
    """When the frame's drawn positions stand: alpha of the way into the last fixed step."""
    return real_time(frame) - STEP_SECONDS + frame["alpha"] * STEP_SECONDS


def ground(slot):
    return slot["x"], slot["z"]


def network_line(messages):
    return next((m for m in reversed(messages) if m.startswith("[INFO] Network: ")), "")


def opponent_motion(frames, slot, skip=()):
    """Frames in which the opponent was drawn moving, those of them in its idle pose, and its
    worst frame-to-frame speed, from the frame after its first sample placed it. A new round
    (health back up) puts the fighters back at their starts at once: those frames are left out."""
    started = [i for i, f in enumerate(frames) if f["net"]["remoteSamples"] > 0]
    moving, idle, fastest = 0, 0, (0.0, None)
    for a, b in zip(frames[started[0] + 1:], frames[started[0] + 2:]) if started else []:
        seconds = drawn_time(b) - drawn_time(a)
        distance = math.dist(ground(a["slots"][slot]), ground(b["slots"][slot]))
        new_round = any(sb["health"] > sa["health"] for sa, sb in zip(a["slots"], b["slots"]))
        jumped = b["net"]["remoteJumps"] > a["net"]["remoteJumps"]  # over a freeze, or a frame too slow to play through
        if distance < 0.005 or seconds <= 0.0 or b["frame"] in skip or new_round or jumped:
            continue
        moving += 1
        idle += b["slots"][slot]["clip"] in ("idle", "CH010301")
        fastest = max(fastest, (distance / seconds, b["frame"]))
    return moving, idle, fastest


def unexplained_jumps(frames):
    """Frames that jumped the opponent over a freeze although the newest snapshot was no more
    than 10 ticks ahead of where its playback stood (a frame that took that long explains one)."""
    return [b["frame"] for a, b in zip(frames, frames[1:])
            if b["net"]["remoteJumps"] > a["net"]["remoteJumps"]
            and b["net"]["snapshotTick"] - a["net"]["playbackTick"] <= FREEZE_LAG_TICKS]


def check_opponent_runs(frames, local, skip=()):
    moving, idle, (fastest, frame) = opponent_motion(frames, 1 - local, skip)
    check(moving >= 10 and idle * 20 <= moving,
          f"the opponent moves in {moving} frames, in its idle pose in {idle} of them (at most 5 %)")
    limit = 2.0 * RUN_SPEED[1 - local] + 0.3
    check(fastest <= limit, f"and never faster than its catch-up allows ({fastest:.2f} m/s at frame {frame}, "
                            f"limit {limit:.2f})")


def clean(bin_dir, content, out):
    frames, messages, _ = play_online(bin_dir, content, out, "clean", 150)
    last, local = frames[-1], frames[-1]["controlledSlot"]
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
    check(last["net"]["snaps"] == 0 and not unexplained_jumps(frames),
          f"no correction snaps ({last['net']['snaps']}), no freeze jumped but after a frame that slow "
          f"({unexplained_jumps(frames)})")


# Away from the bot and round it, with a frame's stop at each turn: the bot chases.
CHASE_KEYS = ",".join(f"{5 + 40 * i}:+{d},{44 + 40 * i}:-{d}" for i, d in enumerate("SDWASDWA"))


def chase(bin_dir, content, out):
    frames, _, _ = play_online(bin_dir, content, out, "chase", 330, ["--keys=" + CHASE_KEYS])
    check_opponent_runs(frames, frames[-1]["controlledSlot"])
    check(frames[-1]["net"]["snaps"] == 0, f"no correction snaps ({frames[-1]['net']['snaps']})")


# Each segment holds a direction from its first frame, presses the action 9 frames later while running, lets go 2 frames
# after that (during the action) and then waits: skill 1 toward the standing bot, a heavy attack away from it, a jump, a
# basic attack.
SEGMENT_FRAMES = 100
SEGMENTS = [("D", "2"), ("A", "4"), ("W", "space"), ("S", "1")]


def actions(bin_dir, content, out):
    keys = [f"{5 + index * SEGMENT_FRAMES + offset}:{key}" for index, (direction, action) in enumerate(SEGMENTS)
            for offset, key in ((0, "+" + direction), (9, action), (11, "-" + direction))]
    frames_total = 5 + len(SEGMENTS) * SEGMENT_FRAMES
    frames, _, _ = play_online(bin_dir, content, out, "actions", frames_total, ["--keys=" + ",".join(keys)],
                               ["--delay-ms=50", "--jitter-ms=15", "--seed=3"], bot="--bot=idle")
    check(len(frames) == frames_total, f"actions: {len(frames)} frames of {frames_total}")
    local = frames[-1]["controlledSlot"]
    by_frame = {f["frame"]: f for f in frames}
    me = lambda n: by_frame[n]["slots"][local]
    server = lambda n: (by_frame[n]["net"]["serverX"], by_frame[n]["net"]["serverZ"])

    # The first key: the fighter runs in its frame, the move leaves in it, and from then on the drawn fighter covers its
    # run speed times the drawn time, frame by frame.
    check(by_frame[5]["scene"]["authoritativeSnapshots"] > 0, "the server has placed the fighter before the first key")
    check(me(5)["x"] > me(4)["x"] and by_frame[5]["session"]["commands"] > by_frame[4]["session"]["commands"],
          f"it starts running in the frame of the key, and the move is sent in that frame "
          f"(commands {by_frame[4]['session']['commands']} then {by_frame[5]['session']['commands']})")
    speed = RUN_SPEED[local]
    # (On a slow machine the frames are long enough for the run to reach the opponent's body before the skill.)
    free = [n for n in range(6, 14) if math.dist(ground(me(n)), ground(by_frame[n]["slots"][1 - local])) > BODY_METRES + 0.001]
    off = [n for n in free if abs((me(n)["x"] - me(n - 1)["x"]) -
                                  speed * (drawn_time(by_frame[n]) - drawn_time(by_frame[n - 1]))) > 0.001]
    check(len(free) >= 4 and not off, f"it runs at {speed} m/s every frame until the skill or the opponent's body "
                                      f"(off in frames {off} of {free})")

    for index, (direction, action) in enumerate(SEGMENTS):
        pressed = 5 + index * SEGMENT_FRAMES + 9
        settled = pressed - 9 + SEGMENT_FRAMES - 1
        what = f"{direction} and {action}"
        check(me(pressed)["action"] != 0, f"{what}: the action starts in the frame of its key")
        stopped = ground(me(pressed))
        # The server moves in whole ticks, with the jitter one more: its stop may differ by that.
        allowed = speed * 2 * TICK_SECONDS + 0.01
        stood = math.dist(server(settled), stopped)
        check(stood <= allowed, f"{what}: the server's fighter stands where the drawn one stopped "
                                f"({stood:.3f} m away, up to {allowed:.3f} m)")
        check(math.dist(ground(me(settled)), server(settled)) <= AGREE_METRES,
              f"{what}: and the drawn fighter is there with it")
        still = max(math.dist(server(n), server(settled)) for n in range(settled - 30, settled + 1))
        check(still < 0.001, f"{what}: and stays there ({still:.3f} m in the last 30 frames)")
    last = frames[-1]
    check(last["net"]["snaps"] == 0 and last["net"]["largestCorrection"] <= speed * 2 * TICK_SECONDS + 0.01,
          f"corrections are the glides of stops ({last['net']['glides']} glides, largest "
          f"{last['net']['largestCorrection']:.3f} m)")
    session = last["session"]
    check(session["roundTrips"] >= 4 and 100.0 <= session["roundTripAverageMs"] <= 100.0 + 2 * 15 + 10,
          f"round trip {session['roundTripAverageMs']:.1f} ms on average over {session['roundTrips']} commands "
          f"(100 ms plus the jitter)")


def stall(bin_dir, content, out):
    frames, _, _ = play_online(bin_dir, content, out, "stall", 400, ["--keys=" + CHASE_KEYS],
                               ["--delay-ms=50", "--jitter-ms=15", "--stall-after-ms=2500", "--stall-ms=2500"])
    local = frames[-1]["controlledSlot"]
    # What was held back may come in over a few frames: the link is back with the first of them.
    ticks = [f["net"]["snapshotTick"] for f in frames]
    jump, back = max((ticks[min(i + 3, len(ticks) - 1)] - ticks[i - 1], i) for i in range(1, len(ticks)))
    while back + 1 < len(ticks) and ticks[back] == ticks[back - 1]:
        back += 1
    check(jump >= 60, f"the link froze: the snapshot tick jumped {jump} ticks from frame {frames[back]['frame']}")
    caught = next((f for f in frames[back:] if f["net"]["snapshotTick"] - f["net"]["playbackTick"] <= 4.0), None)
    delay = drawn_time(caught) - drawn_time(frames[back - 1]) if caught else math.inf
    check(delay <= 0.5, f"the opponent is back within 4 ticks of the newest snapshot {delay:.3f} s after the link "
                        f"returned (at most 0.5 s)")
    last = frames[-1]["net"]
    check(last["remoteJumps"] >= 1 and not unexplained_jumps(frames),
          f"the freeze jumped over ({last['remoteJumps']} jumps), and nothing else but a frame that slow "
          f"({unexplained_jumps(frames)})")
    check(last["eventIdBreaks"] == 0 and last["lastEventId"] > 0,
          f"every combat event arrived once and in order (up to id {last['lastEventId']})")
    check_opponent_runs(frames, local, skip={f["frame"] for f in frames[back:back + 4]})


def killed(bin_dir, content, out):
    def kill_after_join(server, program):
        joined = lambda: [f for f in read_trace(out / "killed.jsonl") if f["scene"]["authoritativeSnapshots"] > 0]
        wait_until(lambda: program.poll() is not None or joined(), TIMEOUT_SECONDS)
        server.process.kill()

    frames, messages, seconds = play_online(bin_dir, content, out, "killed", 150, during=kill_after_join)
    ended = [m for m in messages if m.startswith("[WARN] Duel session ended: ")]
    check(len(ended) == 1, f"one WARN line: {ended}")
    check(frames[-1]["frame"] == 150 and not frames[-1]["session"]["running"], "it renders on to its last frame")
    check(seconds < 60, f"and ends in {seconds:.1f} s")


def knockout(bin_dir, content, out):
    trace = out / "knockout.jsonl"

    def phases(frames):
        """The first frame with the warrior down, and the first after it with the warrior up."""
        down = next((i for i, f in enumerate(frames) if f["slots"][0]["down"]), len(frames))
        return down, next((i for i in range(down, len(frames)) if not frames[i]["slots"][0]["down"]), None)

    def restarted(program):
        frames = read_trace(trace)
        up = phases(frames)[1]
        return program.poll() is not None or (up is not None and len(frames) > up + FRAMES_AFTER_RESTART)

    def until_restarted(server, program):
        wait_until(lambda: restarted(program), KNOCKOUT_WAIT_SECONDS, 0.2)
        program.send_signal(signal.SIGTERM)  # SDL's quit event: the run ends cleanly

    frames, _, _ = play_online(bin_dir, content, out, "knockout", 10000, extra=["--net-overlay"], during=until_restarted)
    down, up = phases(frames)
    if not check(up is not None, f"the warrior went down in frame {down}, up in frame {up}"):
        return
    clips = clip_seconds(bin_dir / "kestrune-bake", content / "warrior" / "character.kmdl", environment())
    duration = clips["knockdown"]
    fallen, stood = [f["slots"][0] for f in frames[down:up]], frames[up]["slots"][0]
    times = [s["clipTime"] for s in fallen]
    still = all(math.dist(ground(s), ground(fallen[0])) < 0.01 for s in fallen)
    check(still and all((s["clip"], s["health"], s["action"]) == ("knockdown", 0, 0) for s in fallen) and
          times == sorted(times) and times[0] < 0.3 and times[-1] > duration,
          f"at 0 health it falls at once and lies still, holding its {duration:.2f} s fall without another clip or "
          f"an action ({times[0]:.2f} s into it first, {times[-1]:.2f} s last)")
    check((stood["health"], stood["clip"]) == (1000, "CH010301") and
          math.dist(ground(stood), WARRIOR_SERVER_START) < 0.1,
          f"the restart stands it up at its start ({stood['clip']}, health {stood['health']}, at {stood['x']:.2f}, "
          f"{stood['z']:.2f})")
    shown = [(f["hud"]["score"], f["hud"]["round"], f["hud"]["banner"]) for f in frames]
    check(shown[0] == ([0, 0], 1, "Round 1") and all(s[:2] == ([0, 0], 1) for s in shown[:down]) and
          all(s == ([0, 1], 1, "K.O.") for s in shown[down:up]) and shown[up] == ([0, 1], 2, "Round 2"),
          f"the HUD shows round 1, the bot's round and \"K.O.\" from the fall, \"Round 2\" from the restart "
          f"({shown[0]}, {shown[down - 1]}, {shown[down]}, {shown[up]})")
    # The network overlay, shown from the start, reads the session's figures: its p99 is the session's, its
    # round trip one the relay-less link makes quick, a second after the start 30 snapshots a second, the
    # remote playback behind them.
    # (The HUD reads the session before the trace does: a result may arrive in between.)
    nets = [(f["hud"]["net"], (before["session"]["roundTripP99Ms"], f["session"]["roundTripP99Ms"]), f["session"])
            for before, f in zip(frames, frames[1:]) if f["hud"]["net"]["roundTripMs"] is not None]
    settled = [net for net, _, session in nets if session["snapshots"] > 60]
    check(bool(nets) and all(net["online"] and net["roundTripP99Ms"] in p99s and 0 < net["roundTripMs"] < 1000
                             for net, p99s, _ in nets) and
          bool(settled) and all(20 <= net["snapshotsPerSecond"] <= 40 and net["interpolationDelayMs"] > 0
                                for net in settled),
          f"the network overlay says the session's figures (first {nets[:1]}, last {nets[-1:]})")


def play(bin_dir, content, out):
    root = Path(__file__).resolve().parents[2]
    env = environment()
    env["KESTRUNE_PLAY_BUILD_DIR"] = str(bin_dir.parent)
    for mode in ("online", "offline"):
        env["KESTRUNE_PLAY_OUT"] = str(out / f"play-{mode}")
        command = [root / "scripts" / "play", *(["--offline"] if mode == "offline" else [])]
        completed = e2e.run(command, env, TIMEOUT_SECONDS, tail=1500)
        check(completed.returncode == 0, f"play {mode}: exit code {completed.returncode}")
        report = read_report(out / f"play-{mode}" / "play-report.json")
        shot = out / f"play-{mode}" / "play.png"
        check(shot.exists() and shot.read_bytes()[:4] == b"\x89PNG", f"play {mode}: PNG screenshot written")
        snapshots = report["scene"]["authoritativeSnapshots"]
        check((snapshots > 0) == (mode == "online"), f"play {mode}: {snapshots} snapshots")
        check(f"{report['renderedFrames']} frames" in completed.stdout and "screenshot of the last frame" in
              completed.stdout, f"play {mode}: the summary")
        told = re.search(r"\d+ server snapshots applied \(the newest of each frame; \d+ received", completed.stdout)
        check((told is not None) == (mode == "online"), f"play {mode}: snapshots applied and received told apart")

    # Given a server, the launcher starts none of its own: the program joins the one given.
    env["KESTRUNE_PLAY_OUT"] = str(out / "play-given")
    given = Background([bin_dir / "kestrune-duel-server", "--listen=127.0.0.1:0", "--bot"], out / "play-given-server.log")
    try:
        completed = e2e.run([root / "scripts" / "play", f"--server=127.0.0.1:{given.port}"], env, TIMEOUT_SECONDS,
                            tail=1500)
    finally:
        given.stop()
    check(completed.returncode == 0 and "online on the given server" in completed.stdout and
          "joined" in text_of(out / "play-given-server.log") and not (out / "play-given" / "duel-server.log").exists()
          and launcher_port(completed.stdout) is None,
          f"play --server=: joins the given server and starts none (exit code {completed.returncode})")

    # play killed hard mid-run: the launcher passes it on, the program closes and the server stops.
    env["KESTRUNE_PLAY_OUT"] = str(out / "play-killed")
    played = subprocess.Popen([root / "scripts" / "play", "--frames=10000"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace")
    port = None
    while port is None and (line := played.stdout.readline()):
        port = launcher_port(line)
    server_log, report = out / "play-killed" / "duel-server.log", out / "play-killed" / "play-report.json"
    wait_until(lambda: "joined" in text_of(server_log), TIMEOUT_SECONDS)
    played.kill()
    played.wait()
    stopped = wait_until(lambda: "server stopped" in text_of(server_log), 30)
    check(port is not None and stopped, f"play killed: its server on {port} stops")
    data = read_report(report) if wait_until(report.exists, 30) else {"success": False, "renderedFrames": None}
    check(data["success"] and data["renderedFrames"] < 10000,
          f"play killed: the program closed itself after {data['renderedFrames']} frames")


# The random player of the scene suite typing into the real program against the bot, through the relay with delay,
# jitter and a stall: every attack the screen shows, and only those, the server answers (runs or refuses it), no move is
# refused as busy or locked, at rest the fighter is drawn where the server has it, and nothing is drawn outside the
# arena or inside the other fighter. `--minutes` makes it a player's run of that long in a window, whose memory must
# stay flat; the suite's run is a smoke run of RANDOM_FRAMES.
RANDOM_FRAMES = 1500
RANDOM_RELAY = ["--delay-ms=50", "--jitter-ms=15", "--seed=5", "--stall-after-ms=9000", "--stall-ms=1500"]
REST_SECONDS = 1.0  # after the last key, more than a round trip, two ticks and the glide of a stop
REST_FRAMES = 150


def rss_kib(pid):
    status = text_of(Path(f"/proc/{pid}/status"))
    found = re.search(r"VmRSS:\s+(\d+) kB", status)
    return int(found.group(1)) if found else None


def random(bin_dir, content, out, minutes=None):
    frames_total = RANDOM_FRAMES if minutes is None else 60 * 60 * minutes
    keys = subprocess.run([bin_dir / "kestrune-random-keys", "1", str(frames_total)], check=True, text=True,
                          stdout=subprocess.PIPE).stdout.strip().split(",")
    # The last REST_FRAMES the player lets go of everything, so that the run ends at rest.
    keys = [entry for entry in keys if int(entry.split(":")[0]) < frames_total - REST_FRAMES]
    # The directions held from each frame on (a held one moves the fighter whenever it is free).
    held_changes, held = [], set()
    for entry in keys:
        frame, key = entry.split(":")
        if key[0] in "+-" and key[1:] in ("W", "A", "S", "D"):
            (held.add if key[0] == "+" else held.discard)(key[1:])
            held_changes.append((int(frame), bool(held)))
    keys += [f"{frames_total - REST_FRAMES}:-{key}" for key in sorted(held)]
    held_changes.append((frames_total - REST_FRAMES, False))
    key_frames = sorted({int(entry.split(":")[0]) for entry in keys})
    keys = ",".join(keys)
    memory = []

    def players(program):
        """The program's processes below xvfb-run (its child or grandchild)."""
        children = text_of(Path(f"/proc/{program.pid}/task/{program.pid}/children")).split()
        for pid in children + [g for c in children for g in text_of(Path(f"/proc/{c}/task/{c}/children")).split()]:
            if "KestruneNative" in text_of(Path(f"/proc/{pid}/cmdline")):
                yield pid

    def watch(server, program):
        """A player's run: memory sampled every ten seconds, ended after `minutes`."""
        started = time.monotonic()
        while program.poll() is None and time.monotonic() - started < minutes * 60:
            time.sleep(10)
            memory.extend(rss_kib(pid) for pid in players(program))
        for pid in players(program):
            os.kill(int(pid), signal.SIGTERM)

    recording = ["--record=" + str(out / "random.krpl"), "--screenshot=" + str(out / "random.bmp")]
    frames, messages, _ = play_online(bin_dir, content, out, "random", frames_total, ["--keys=" + keys, *recording],
                                      RANDOM_RELAY, during=watch if minutes else lambda *_: None,
                                      smoke=minutes is None)
    check(len(frames) > 600, f"random: {len(frames)} frames played")
    local = frames[-1]["controlledSlot"]

    # Every server-run action the screen starts is answered once: run (its event) or refused.
    starts, settled_starts, last_time = 0, 0, real_time(frames[-1])
    for a, b in zip(frames, frames[1:]):
        was, now = a["slots"][local], b["slots"][local]
        if now["action"] in (1, 2, 3) and (now["action"] != was["action"] or now["clip"] != was["clip"] or
                                           now["clipTime"] < was["clipTime"]):
            starts += 1
            settled_starts += real_time(b) < last_time - 2.0
    net = frames[-1]["net"]
    answered = net["confirmedLocalActions"] + net["refusedActions"]
    check(starts > 10 and settled_starts <= answered <= starts,
          f"random: the screen started {starts} attacks and skills ({settled_starts} two seconds before the end), the "
          f"server ran {net['confirmedLocalActions']} and refused {net['refusedActions']} of them")
    reasons = [int(m.group(1)) for m in (re.search(r"Server rejected command \d+ at tick \d+ \(reason (\d+)\)", line)
                                         for line in messages) if m]
    waits = sum(reason in (4, 5) for reason in reasons)
    check(waits <= net["refusedActions"], f"random: {waits} commands refused as locked or busy, all of them actions "
                                          f"(reasons {sorted(set(reasons))})")

    # Places: in the arena, apart, and at rest where the server has the fighter.
    outside = [f["frame"] for f in frames for s in f["slots"] if not (abs(s["x"]) <= 20.001 and abs(s["z"]) <= 20.001)]
    check(not outside, f"random: no fighter drawn outside the arena or at no number ({outside[:5]})")
    inside = [f["frame"] for f in frames[1:] if math.dist(ground(f["slots"][0]), ground(f["slots"][1])) < BODY_METRES - 0.02]
    check(not inside, f"random: the fighters are never drawn inside each other ({inside[:5]})")
    rest_checked, off = 0, []
    by_frame = {f["frame"]: f for f in frames}
    last_key, index, moved_at, ticked_at, previous = 0, 0, 0.0, 0.0, frames[0]
    holding, held_index = False, 0
    for f in frames:
        while index < len(key_frames) and key_frames[index] <= f["frame"]:
            last_key, index = key_frames[index], index + 1
        while held_index < len(held_changes) and held_changes[held_index][0] <= f["frame"]:
            holding, held_index = held_changes[held_index][1], held_index + 1
        quiet_since = real_time(by_frame.get(last_key, frames[0]))
        server = (f["net"]["serverX"], f["net"]["serverZ"])
        if server != (previous["net"]["serverX"], previous["net"]["serverZ"]):
            moved_at = real_time(f)
        if f["net"]["snapshotTick"] != previous["net"]["snapshotTick"]:
            ticked_at = real_time(f)
        previous = f
        # No direction held, no key for a while, the server's fighter still as long, and snapshots coming in.
        now = real_time(f)
        resting = not holding and min(now - quiet_since, now - moved_at) >= REST_SECONDS and now - ticked_at < 0.25
        if resting and f["slots"][local]["action"] == 0:
            rest_checked += 1
            if math.dist(ground(f["slots"][local]), server) > AGREE_METRES:
                off.append((f["frame"], round(math.dist(ground(f["slots"][local]), server), 3)))
    check(rest_checked > 0 and not off, f"random: at rest in {rest_checked} frames, drawn where the server has the "
                                        f"fighter in all of them ({off[:5]})")
    if minutes is None:
        replayed(bin_dir, content, out, "random", len(frames))
    if minutes:
        steady = [m for m in memory[len(memory) // 5:] if m]
        grown = (max(steady) - min(steady)) / 1024 if steady else math.inf
        check(len(steady) > 5 and grown < 16, f"random: memory flat after the first fifth ({grown:.1f} MiB between "
                                              f"{min(steady or [0]) / 1024:.0f} and {max(steady or [0]) / 1024:.0f} MiB; "
                                              f"samples every 10 s: {[round(m / 1024) for m in memory if m]})")


def replay(bin_dir, content, out, name, recording, frames, extra=()):
    """Plays a recording headless; returns its exit code, trace lines and log messages."""
    trace, log = out / f"{name}.jsonl", out / f"{name}.log"
    trace.unlink(missing_ok=True)
    command = [bin_dir / "KestruneNative", "--smoke-test", f"--frames={frames}", f"--content={content}",
               f"--replay={recording}", "--width=640", "--height=360", f"--trace={trace}", f"--log={log}", *extra]
    code = subprocess.run(command, env=environment(headless=True), stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          timeout=TIMEOUT_SECONDS).returncode
    lines = trace.read_text().splitlines() if trace.exists() else []
    return code, lines, log_messages(log) if log.exists() else []


def replayed(bin_dir, content, out, name, frames):
    """The recording of a run played back: the same trace line for line and the same last picture; cut inside a frame
    it plays the frames before and says where it was cut; on other content it is refused."""
    recording = out / f"{name}.krpl"
    live = (out / f"{name}.jsonl").read_text().splitlines()
    size, seconds = recording.stat().st_size, real_time(read_trace(out / f"{name}.jsonl")[-1])
    print(f"{name}: {frames} frames, {seconds:.1f} s recorded in {size} bytes: {size / seconds * 60 / 1000:.0f} KB a minute")
    code, lines, _ = replay(bin_dir, content, out, f"{name}-replay", recording, frames,
                            ["--screenshot=" + str(out / f"{name}-replay.bmp")])
    differ = next((i for i, (a, b) in enumerate(zip(live, lines)) if a != b), None)
    check(code == 0 and len(lines) == len(live) and differ is None,
          f"{name} replayed: exit code {code}, {len(lines)} of {len(live)} trace lines, the first that differs "
          f"{differ is not None and (live[differ][:300], lines[differ][:300])}")
    check((out / f"{name}.bmp").read_bytes() == (out / f"{name}-replay.bmp").read_bytes(),
          f"{name} replayed: the last frame's picture is the same")

    cut = out / f"{name}-cut.krpl"
    # Half the file; should that fall between two frames (the file then ends cleanly), one byte less is inside one.
    for length in (size // 2, size // 2 - 1):
        cut.write_bytes(recording.read_bytes()[:length])
        code, lines, messages = replay(bin_dir, content, out, f"{name}-cut", cut, frames)
        said = [m for m in messages if "ends inside frame" in m]
        if said:
            break
    check(code == 0 and said and 0 < len(lines) < len(live) and lines == live[:len(lines)],
          f"{name} cut in half: exit code {code}, {len(lines)} frames played as recorded, said: {said}")

    other = out / "other-content"
    if not other.exists():
        other.mkdir()
        for entry in Path(content).iterdir():
            (other / entry.name).symlink_to(entry.resolve())
        (other / "MANIFEST").unlink()
        (other / "MANIFEST").write_bytes((Path(content) / "MANIFEST").read_bytes() + b"\n")
    code, lines, messages = replay(bin_dir, other, out, f"{name}-other", recording, frames)
    check(code == 1 and not lines and any("was recorded on other content" in m for m in messages),
          f"{name} on other content: exit code {code}, refused: {messages[-1:]}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--content", "--out"):
        parser.add_argument(option, type=Path, required=True)
    parser.add_argument("--minutes", type=int, help="random: a player's run of this many minutes")
    parser.add_argument("scenarios", nargs="*",
                        default=["clean", "chase", "actions", "stall", "random", "killed", "knockout", "play"])
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    for name in args.scenarios:
        print(f"== {name}")
        if name == "random":
            random(args.bin, args.content, args.out, args.minutes)
        else:
            globals()[name](args.bin, args.content, args.out)
    return e2e.finish()


if __name__ == "__main__":
    sys.exit(main())
