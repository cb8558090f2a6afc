"""What the end-to-end scripts share: the environment the built programs run in, the list of
failed checks, runs of a program, and reading what a run leaves behind (report, log, images)."""
import glob
import json
import os
import re
import subprocess
import time
from pathlib import Path

# Mesa loads its GL driver when a surface first needs one and unloads it at exit, taking the roots of the driver's own
# allocations with it, so that LeakSanitizer would report that memory as the program's leaks. Preloaded, the driver
# stays until the end and leak detection stays on for the program's own memory.
MESA_LIBRARIES = ("dri/swrast_dri.so", "libEGL_mesa.so.0", "libGLX_mesa.so.0")
failures = []


def mesa_preload():
    found = [path for name in MESA_LIBRARIES for path in sorted(glob.glob(f"/usr/lib/*/{name}"))[:1]]
    if len(found) != len(MESA_LIBRARIES):
        raise SystemExit(f"Mesa's libraries {MESA_LIBRARIES} are needed (scripts/bootstrap installs them); found {found}")
    return ":".join(found)


def program_environment(headless=True):
    """The environment for a run of a Linux program of the build: without a display when
    `headless` (SDL then renders offscreen), with Mesa's driver kept loaded."""
    env = {k: v for k, v in os.environ.items() if not (headless and k in ("DISPLAY", "WAYLAND_DISPLAY"))}
    return {**env, "LD_PRELOAD": mesa_preload(), "ASAN_OPTIONS": "verify_asan_link_order=0",
            "LSAN_OPTIONS": f"suppressions={Path(__file__).resolve().parents[1] / 'lsan.supp'}"}


def check(condition, what):
    """Prints and records the check; returns `condition`, so that what depends on it can follow."""
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)
    return condition


def finish():
    """The script's exit code: 1 when any check failed."""
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


def check_fields(data, expected, what=""):
    """One check per key of `expected`: the value `data` holds under it."""
    for key, value in expected.items():
        check(data.get(key) == value, f"{what}{key} {data.get(key)!r}, expected {value!r}")


def run(command, env, timeout, tail=4000, cwd=None):
    """Runs `command` to its end and prints the last `tail` characters of its output (all of
    them only when it fails, with `tail` None); returns the completed process."""
    print("run:", " ".join(str(part) for part in command))
    done = subprocess.run(command, env=env, timeout=timeout, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    if tail is not None or done.returncode != 0:
        print(done.stdout[-(tail or 4000):])
    return done


def wait_until(condition, seconds, interval=0.1):
    """Polls `condition` until it holds or `seconds` have passed; returns its last value. Only
    a bound on a wait: what is checked is what the program wrote, never how long it took."""
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(interval)
    return value


def launcher_port(line):
    """The port of the duel server that kestrune-play says it started, or None."""
    found = re.search(r"local duel server, 127\.0\.0\.1:(\d+)", line)
    return int(found.group(1)) if found else None


def text_of(path):
    return Path(path).read_text(errors="replace") if Path(path).exists() else ""


def read_trace(path):
    """The frames of a trace, one JSON object per complete line."""
    return [json.loads(line) for line in text_of(path).splitlines(True) if line.endswith("\n")]


def read_report(path):
    try:
        return json.loads(Path(path).read_text())
    except (OSError, ValueError) as error:
        check(False, f"report {path}: {error}")
        raise SystemExit(1)


def log_messages(path):
    # Lines read "2026-03-01T08:15:42Z [INFO] text"; the timestamp is 21 characters with its space.
    return [line.rstrip("\n")[21:] for line in Path(path).open(encoding="latin-1")]


def windows_path(path):
    """The path as the Windows build is given it under Wine: Z: is the root of the file system."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def inspect(bake, model, env=None):
    """What `kestrune-bake inspect` says of a model."""
    return subprocess.run([bake, "inspect", model], check=True, stdout=subprocess.PIPE, text=True, env=env).stdout


def clip_seconds(bake, model, env=None):
    """The model's clips by name, with their lengths in seconds."""
    return {name: float(seconds) for name, seconds in
            re.findall(r"^    (\S+): ([0-9.]+) s at ", inspect(bake, model, env), re.MULTILINE)}


def rgb_pixels(image):
    """Width, height and the 8-bit RGB bytes of any image ImageMagick reads."""
    size = subprocess.run(["identify", "-format", "%w %h", str(image)], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.split()
    data = subprocess.run(["convert", str(image), "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE).stdout
    return int(size[0]), int(size[1]), data


def write_rgb(path, width, height, data):
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "rgb:-", str(path)], input=data, check=True)
