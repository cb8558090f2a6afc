#!/usr/bin/env python3
"""Listens to KestruneNative without a speaker.

linux: an offline duel with scripted keys (run in from the right, four swings that hit, a heavy attack, the first skill,
a jump, the second skill) through SDL's disk audio driver, which writes what would be played to a file. The trace says
which sounds each frame started, with their pan; the report says at which output frame the mixer began each one. The
file must hold energy inside every sound's span and digital silence everywhere else, each isolated sound must lean to
the side its pan says by the equal-power ratio, and the sounds must fall on the frames where the screen starts an action
or the opponent's health drops, and nowhere else. Then the same duel at --volume=50 (half the amplitude), muted (no
device, the same sounds decided), without a usable driver (one INFO line, plays on), and on content with a damaged
sound (refused by name, the rest heard).
wine: the Windows build under Wine, with the audio drivers Wine has and with none: either way the duel runs to its end,
with a device the report names XAudio2 and sounds start; without one it says so once and plays on silently.
"""
import argparse
import math
import os
import shutil
import sys
import wave
from array import array
from pathlib import Path

import e2e
from e2e import check, log_messages, program_environment, read_report, read_trace, text_of, windows_path

TIMEOUT_SECONDS = 240
RATE = 48000
FRAMES = 460
KEYS = "5:+D,55:-D,56:+W,80:-W,85:1,115:1,145:1,175:1,215:4,275:2,330:Space,380:3"
COMMON = ["--smoke-test", "--width=640", "--height=360", f"--frames={FRAMES}", f"--keys={KEYS}"]
ACTION_SOUNDS = {"swing1", "swing2", "swing3", "swing4", "swing_heavy", "skill1_cast", "skill2_charge", "jump"}
HIT_SOUNDS = {"hit_basic", "hit_heavy", "skill1_lock"}


def sound_lengths(content):
    lengths = {}
    for path in sorted((Path(content) / "sounds").glob("*.wav")):
        with wave.open(str(path)) as file:
            lengths[path.stem] = file.getnframes()
    return lengths


def heard_sounds(trace):
    """Every sound of the trace in order: (frame, sound entry)."""
    return [(frame["frame"], sound) for frame in trace for sound in frame.get("sounds", [])]


def read_output(path):
    """The disk driver's file as left and right sample arrays (48 kHz, 16-bit, stereo)."""
    samples = array("h")
    samples.frombytes(Path(path).read_bytes())
    if sys.byteorder != "little":
        samples.byteswap()
    return samples[0::2], samples[1::2]


def energy(channel, begin, end):
    return sum(value * value for value in channel[begin:end])


def check_story(trace, name):
    """The sounds fall on the frames where the screen shows what they are of."""
    sounds = heard_sounds(trace)
    action_frames, hit_frames = set(), set()
    previous = None
    for frame in trace:
        local, opponent = frame["slots"][0], frame["slots"][1]
        if previous is not None:
            before = previous["slots"][0]
            if local["action"] != 0 and (local["action"] != before["action"] or local["clip"] != before["clip"]):
                action_frames.add(frame["frame"])
            if opponent["health"] < previous["slots"][1]["health"]:
                hit_frames.add(frame["frame"])
        previous = frame
    heard_actions = {frame for frame, sound in sounds if sound["sound"] in ACTION_SOUNDS and sound["slot"] == 0}
    heard_hits = {frame for frame, sound in sounds if sound["sound"] in HIT_SOUNDS and sound["slot"] == 1}
    check(heard_actions == action_frames and len(action_frames) >= 7,
          f"{name}: action sounds on frames {sorted(heard_actions)}, the screen starts actions on {sorted(action_frames)}")
    check(heard_hits == hit_frames and len(hit_frames) >= 5,
          f"{name}: hit sounds on frames {sorted(heard_hits)}, the opponent's health drops on {sorted(hit_frames)}")
    kinds = {sound["sound"] for _, sound in sounds}
    wanted = {"swing1", "swing2", "swing3", "swing4", "swing_heavy", "hit_basic", "skill1_cast", "skill1_lock",
              "skill2_charge", "skill2_beam", "jump", "landing", "step_run"}
    check(wanted <= kinds, f"{name}: heard {sorted(kinds)}, missing {sorted(wanted - kinds)}")
    return sounds


def check_heard(out, name, lengths, volume=1.0):
    """The disk output of run `name` against its trace and report; the peaks of its isolated sounds."""
    trace, report = read_trace(out / f"{name}.jsonl"), read_report(out / f"{name}.json")
    audio = report["audio"]
    sounds = check_story(trace, name)
    check(audio["device"] == "SDL disk", f"{name}: the report's device {audio['device']!r}")
    check(audio["soundsPlayed"] == len(sounds), f"{name}: soundsPlayed {audio['soundsPlayed']}, the trace has {len(sounds)}")
    starts = audio["soundStartFrames"]
    left, right = read_output(out / f"{name}.raw")
    check(len(left) > RATE, f"{name}: {len(left)} frames of output")
    # Every sound the run asked for began on the device, in order, but those of its last moments.
    spans = []
    for (frame, sound), start in zip(sounds, starts):
        if start >= 0:
            spans.append((start, start + lengths[sound["sound"]], sound))
    late = [sound for (frame, sound), start in zip(sounds, starts) if start < 0 and frame < FRAMES - 10]
    check(not late and [s for s, _, _ in spans] == sorted(s for s, _, _ in spans),
          f"{name}: {len(spans)} of {len(sounds)} sounds began in order on the device ({len(late)} never did)")
    # Energy inside every span that the file holds, digital silence outside them all.
    covered = bytearray(len(left))
    for begin, end, _ in spans:
        covered[begin:min(end, len(left))] = b"\x01" * (min(end, len(left)) - begin)
    stray = [i for i in range(len(left)) if not covered[i] and (left[i] or right[i])]
    check(not stray, f"{name}: silence outside the sounds' spans ({len(stray)} samples not, first at "
                     f"{stray[0] if stray else None})")
    quiet = [sound["sound"] for begin, end, sound in spans
             if end <= len(left) and energy(left, begin, end) + energy(right, begin, end) < (end - begin) * 100 ** 2]
    check(not quiet, f"{name}: energy in every sound's span (quiet: {quiet})")
    # Alone in its span, a sound leans as its pan says, by the equal-power law.
    peaks, leaning = {}, 0
    for index, (begin, end, sound) in enumerate(spans):
        alone = all(other_end <= begin or other_begin >= end
                    for j, (other_begin, other_end, _) in enumerate(spans) if j != index)
        if not alone or end > len(left):
            continue
        peaks.setdefault(sound["sound"], max(abs(v) for v in left[begin:end] + right[begin:end]))
        angle = (sound["pan"] + 1.0) * math.pi / 4.0
        expected = (math.cos(angle) / math.sin(angle)) ** 2 if sound["pan"] < 1.0 else math.inf
        measured = energy(left, begin, end) / max(1, energy(right, begin, end))
        if not math.isclose(measured, expected, rel_tol=0.02):
            check(False, f"{name}: {sound['sound']} at pan {sound['pan']:.3f}: left/right energy {measured:.4f}, "
                         f"expected {expected:.4f}")
        leaning += abs(sound["pan"]) >= 0.1
    check(leaning >= 3, f"{name}: {leaning} isolated sounds off the middle weighed left against right")
    return peaks


def linux(program, content, out):
    lengths = sound_lengths(content)
    check(len(lengths) == 17, f"{len(lengths)} sounds in the content")

    def launch(name, extra, driver="disk", content_dir=content):
        env = {**program_environment(), "SDL_AUDIODRIVER": driver, "SDL_DISKAUDIOFILE": str(out / f"{name}.raw")}
        done = e2e.run([program, *COMMON, f"--content={content_dir}", f"--trace={out / name}.jsonl",
                        f"--report={out / name}.json", f"--log={out / name}.log", *extra], env, TIMEOUT_SECONDS)
        check(done.returncode == 0, f"{name}: exit code {done.returncode}")
        return log_messages(out / f"{name}.log")

    # Paced as a player's run is (the smoke run's frames sleep), so that sounds do not all pile into a few blocks.
    launch("heard", [])
    full = check_heard(out, "heard", lengths)
    launch("half", ["--volume=50"])
    half = check_heard(out, "half", lengths)
    ratios = {sound: half[sound] / full[sound] for sound in full.keys() & half.keys()}
    check(ratios and all(abs(r - 0.5) < 0.01 for r in ratios.values()), f"--volume=50 halves the peaks: {ratios}")

    log = launch("muted", ["--mute", "--fixed-fps=60"])
    muted = read_report(out / "muted.json")["audio"]
    check(muted["device"] is None and muted["soundsPlayed"] > 20 and set(muted["soundStartFrames"]) == {-1},
          f"muted: no device, the sounds still decided: {muted['device']!r}, {muted['soundsPlayed']}")
    check("[INFO] Sound muted (--mute)" in log and not (out / "muted.raw").exists(), "muted: said once, nothing written")
    check_story(read_trace(out / "muted.jsonl"), "muted")

    log = launch("no-driver", ["--fixed-fps=60"], driver="no-such-driver")
    said = [line for line in log if line.startswith("[INFO] No sound: ")]
    check(len(said) == 1 and said[0].endswith("Playing on silently.") and
          read_report(out / "no-driver.json")["audio"]["device"] is None, f"without a driver: {said}")
    check(text_of(out / "no-driver.jsonl") == text_of(out / "muted.jsonl"),
          "the trace says the same sounds with and without a device")

    damaged = out / "damaged-content"
    shutil.rmtree(damaged, ignore_errors=True)
    shutil.copytree(content, damaged)
    swing = damaged / "sounds" / "swing1.wav"
    swing.write_bytes(swing.read_bytes()[:30])
    log = launch("damaged", ["--fixed-fps=60"], content_dir=damaged)
    refusals = [line for line in log if line.startswith("[WARN] Sound left out: ")]
    check(len(refusals) == 1 and "swing1.wav" in refusals[0], f"a damaged sound is refused by name: {refusals}")
    report = read_report(out / "damaged.json")
    check(report["success"] and report["audio"]["device"] == "SDL disk", "and the duel plays on with the others")


def wine(program, emulator, content, out):
    def launch(name, audio):
        env = {**os.environ, "KESTRUNE_WINE_AUDIO": audio}
        done = e2e.run([str(emulator), str(program), *COMMON, "--fixed-fps=60", f"--content={windows_path(content)}",
                        f"--report={windows_path(out / name)}.json", f"--log={windows_path(out / name)}.log",
                        f"--trace={windows_path(out / name)}.jsonl"], env, TIMEOUT_SECONDS)
        check(done.returncode == 0, f"{name}: exit code {done.returncode}")
        return read_report(out / f"{name}.json")["audio"], log_messages(out / f"{name}.log")

    audio, log = launch("wine-silent", "none")
    said = [line for line in log if line.startswith("[INFO] No sound: ")]
    check(audio["device"] is None and len(said) == 1 and audio["soundsPlayed"] > 20,
          f"without an audio device: plays on silently ({said}, {audio['soundsPlayed']} sounds decided)")
    check_story(read_trace(out / "wine-silent.jsonl"), "wine without a device")
    audio, log = launch("wine-heard", "null")
    started = [frame for frame in audio["soundStartFrames"] if frame >= 0]
    check((audio["device"] or "").startswith("XAudio2") and len(started) > 20,
          f"with an audio device: {audio['device']!r}, {len(started)} of {audio['soundsPlayed']} sounds began on it")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("linux", "wine"), required=True)
    for option in ("--program", "--content", "--out"):
        parser.add_argument(option, type=Path, required=True)
    parser.add_argument("--emulator", type=Path)
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    args.out.mkdir(parents=True)
    if args.mode == "linux":
        linux(args.program, args.content, args.out)
    else:
        wine(args.program, args.emulator, args.content, args.out)
    return e2e.finish()


if __name__ == "__main__":
    sys.exit(main())
