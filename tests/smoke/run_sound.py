#!/usr/bin/env python3
"""Listens to KestruneNative without a speaker.

linux: an offline duel with scripted keys (run in from the right, four swings that hit, a heavy attack, the first skill,
a jump, the second skill) through SDL's disk audio driver, which writes what would be played to a file. The trace says
which sounds each frame started, with their pan; the report says at which output frame the mixer began each one. The
file must be the sum of those sounds from those frames at their pans and gains, sample for sample, and digital silence
everywhere else; the hits on the opponent, who stands left of the picture, lean left; and the sounds must fall on the
frames where the screen starts an action or the opponent's health drops, and nowhere else. Then the same duel at --volume=50 (half the amplitude), muted (no
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
FRAMES = 560
KEYS = "5:+D,55:-D,56:+W,80:-W,85:1,115:1,145:1,175:1,235:4,320:2,390:Space,460:3"
# Every run plays the same frames: the traces of runs with and without a device must agree.
COMMON = ["--smoke-test", "--width=640", "--height=360", "--fixed-fps=60", f"--frames={FRAMES}", f"--keys={KEYS}"]
ACTION_SOUNDS = {"swing1", "swing2", "swing3", "swing4", "swing_heavy", "skill1_cast", "skill2_charge", "jump"}
HIT_SOUNDS = {"hit_basic", "hit_heavy", "skill1_lock"}


def content_sounds(content):
    """The content's sounds by name, as sample arrays."""
    sounds = {}
    for path in sorted((Path(content) / "sounds").glob("*.wav")):
        with wave.open(str(path)) as file:
            samples = array("h")
            samples.frombytes(file.readframes(file.getnframes()))
            sounds[path.stem] = samples
    return sounds


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
    wanted = {"swing1", "swing2", "swing3", "swing4", "swing_heavy", "hit_basic", "hit_heavy", "skill1_cast", "skill1_lock",
              "skill2_charge", "skill2_beam", "jump", "landing", "step_run"}
    check(wanted <= kinds, f"{name}: heard {sorted(kinds)}, missing {sorted(wanted - kinds)}")
    return sounds


def check_heard(out, name, sounds_of, volume=1.0):
    """The disk output of run `name` against its trace and report: the output must be, sample for sample (within the
    rounding of the mixer's single precision), the sum of the trace's sounds from the output frames the report gives,
    each at its pan (equal power) and gain times the volume; silence everywhere else. Returns the sounds' spans."""
    trace, report = read_trace(out / f"{name}.jsonl"), read_report(out / f"{name}.json")
    audio = report["audio"]
    sounds = check_story(trace, name)
    check(audio["device"] == "SDL disk", f"{name}: the report's device {audio['device']!r}")
    check(audio["soundsPlayed"] == len(sounds), f"{name}: soundsPlayed {audio['soundsPlayed']}, the trace has {len(sounds)}")
    starts = audio["soundStartFrames"]
    left, right = read_output(out / f"{name}.raw")
    check(len(left) > RATE, f"{name}: {len(left)} frames of output")
    # Every sound the run asked for began on the device, in order, but those of its last moments.
    spans = [(start, sound) for (frame, sound), start in zip(sounds, starts) if start >= 0]
    late = [sound for (frame, sound), start in zip(sounds, starts) if start < 0 and frame < FRAMES - 10]
    check(not late and [s for s, _ in spans] == sorted(s for s, _ in spans),
          f"{name}: {len(spans)} of {len(sounds)} sounds began in order on the device ({len(late)} never did)")
    expected = [[0.0] * len(left), [0.0] * len(left)]
    for start, sound in spans:
        angle = (sound["pan"] + 1.0) * math.pi / 4.0
        for channel, weight in ((expected[0], math.cos(angle)), (expected[1], math.sin(angle))):
            weight *= sound["gain"]
            for i, value in enumerate(sounds_of[sound["sound"]][:max(0, len(left) - start)]):
                channel[start + i] += value * weight
    wrong = [i for channel, heard in zip(expected, (left, right)) for i in range(len(heard))
             if abs(max(-32768, min(32767, round(channel[i] * volume))) - heard[i]) > 1]
    check(not wrong, f"{name}: the output is the trace's sounds at their pans and gains, silence elsewhere "
                     f"({len(wrong)} samples not, first at {min(wrong) if wrong else None})")
    # The opponent stood to the left of the picture when hit: the hits heard alone lean left.
    ends = [start + len(sounds_of[sound["sound"]]) for start, sound in spans]
    alone = [(start, end) for index, ((start, sound), end) in enumerate(zip(spans, ends))
             if sound["sound"] in HIT_SOUNDS and end <= len(left) and
             all(other_end <= start or other_start >= end
                 for other, ((other_start, _), other_end) in enumerate(zip(spans, ends)) if other != index)]
    leaning = [round(energy(left, start, end) / max(1, energy(right, start, end)), 3) for start, end in alone]
    check(leaning and all(ratio > 1.5 for ratio in leaning),
          f"{name}: the hits on the opponent, left of the picture, are heard on the left (left/right {leaning})")
    return spans


def linux(program, content, out):
    sounds_of = content_sounds(content)
    check(len(sounds_of) == 17, f"{len(sounds_of)} sounds in the content")

    def launch(name, extra, driver="disk", content_dir=content):
        env = {**program_environment(), "SDL_AUDIODRIVER": driver, "SDL_DISKAUDIOFILE": str(out / f"{name}.raw")}
        done = e2e.run([program, *COMMON, f"--content={content_dir}", f"--trace={out / name}.jsonl",
                        f"--report={out / name}.json", f"--log={out / name}.log", *extra], env, TIMEOUT_SECONDS)
        check(done.returncode == 0, f"{name}: exit code {done.returncode}")
        return log_messages(out / f"{name}.log")

    launch("heard", [])
    check_heard(out, "heard", sounds_of)
    launch("half", ["--volume=50"])
    check_heard(out, "half", sounds_of, volume=0.5)

    log = launch("muted", ["--mute"])
    muted = read_report(out / "muted.json")["audio"]
    check(muted["device"] is None and muted["soundsPlayed"] > 20 and set(muted["soundStartFrames"]) == {-1},
          f"muted: no device, the sounds still decided: {muted['device']!r}, {muted['soundsPlayed']}")
    check("[INFO] Sound muted (--mute)" in log and not (out / "muted.raw").exists(), "muted: said once, nothing written")
    check_story(read_trace(out / "muted.jsonl"), "muted")

    log = launch("no-driver", [], driver="no-such-driver")
    said = [line for line in log if line.startswith("[INFO] No sound: ")]
    check(len(said) == 1 and said[0].endswith("Playing on silently.") and
          read_report(out / "no-driver.json")["audio"]["device"] is None, f"without a driver: {said}")
    traces = [text_of(out / f"{name}.jsonl") for name in ("heard", "muted", "no-driver")]
    check(traces[0] == traces[1] == traces[2] and traces[0].count("\n") == FRAMES,
          "the trace says the same sounds with a device, muted and without one")

    damaged = out / "damaged-content"
    shutil.rmtree(damaged, ignore_errors=True)
    shutil.copytree(content, damaged)
    swing = damaged / "sounds" / "swing1.wav"
    swing.write_bytes(swing.read_bytes()[:30])
    log = launch("damaged", [], content_dir=damaged)
    refusals = [line for line in log if line.startswith("[WARN] Sound left out: ")]
    check(len(refusals) == 1 and "swing1.wav" in refusals[0], f"a damaged sound is refused by name: {refusals}")
    report = read_report(out / "damaged.json")
    check(report["success"] and report["audio"]["device"] == "SDL disk", "and the duel plays on with the others")


def wine(program, emulator, content, out):
    def launch(name, audio):
        env = {**os.environ, "KESTRUNE_WINE_AUDIO": audio}
        done = e2e.run([str(emulator), str(program), *COMMON, f"--content={windows_path(content)}",
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
