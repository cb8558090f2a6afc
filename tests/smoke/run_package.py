#!/usr/bin/env python3
"""A player's package, the way a player meets it: cpack builds it from the build tree, it is unpacked into an empty
temporary folder far from the repository, and everything runs from there with that folder as the working directory.

Checked: the files a player needs (programs, content, README, licence texts) and nothing that names the build tree or
the repository; the libraries the programs load (on Windows every DLL is in the folder or part of Windows; on Linux
every library comes from a Debian package that the README names); each program's --help; a content smoke run of the
packaged content with a PNG screenshot; the launcher offline, and online against the packaged duel server with a bot,
which must be gone when the launcher ends; on Linux also after the launcher is killed hard; and the packaged baker
importing a glTF sample into a copy of the content that the program then plays.

--mode linux runs the Linux package natively; --mode wine runs the Windows package through --emulator
(scripts/wine-exec, on the Direct3D 11 runtime).
"""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

import e2e
from e2e import check, launcher_port, read_report, text_of, wait_until, windows_path

TIMEOUT_SECONDS = 300
SERVER_GONE_SECONDS = 30
PROGRAMS = ["KestruneNative", "kestrune-duel-server", "kestrune-net-relay", "kestrune-bake", "kestrune-play"]
LICENCES = {"linux": {"asio", "nlohmann-json", "tinygltf", "SDL2", "libspng", "libjpeg-turbo", "zlib", "freetype",
                      "gcc-runtime", "dejavu"},
            "wine": {"asio", "nlohmann-json", "tinygltf", "gcc-runtime", "mingw-w64-runtime", "dejavu"}}
# DLLs that every Windows 10 x64 has (Direct3D 11 and its compiler included).
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll",
                "ws2_32.dll", "mswsock.dll", "windowscodecs.dll", "d3d11.dll", "dxgi.dll", "d3dcompiler_47.dll",
                "msvcrt.dll", "bcrypt.dll", "shlwapi.dll", "comdlg32.dll", "imm32.dll", "winmm.dll", "version.dll",
                "ucrtbase.dll"}


class Package:
    """The unpacked package and how to run its programs from the folder it sits in."""

    def __init__(self, folder, mode, emulator):
        self.folder, self.mode, self.emulator = folder, mode, emulator
        # Under Wine the stage's virtual screen, which Wine's desktop is bound to; natively no display.
        self.env = {k: v for k, v in os.environ.items() if mode == "wine" or k not in ("DISPLAY", "WAYLAND_DISPLAY")}

    def exe(self, name):
        return self.folder / (name + (".exe" if self.mode == "wine" else ""))

    def command(self, name, *args):
        return [*([self.emulator] if self.emulator else []), self.exe(name), *args]

    def run(self, name, *args, timeout=TIMEOUT_SECONDS):
        return e2e.run(self.command(name, *args), self.env, timeout, tail=2000, cwd=self.folder)

    def report(self, name):
        path = self.folder / name
        return read_report(path) if path.exists() else {"success": False, "error": f"no {name}"}

    def run_reporting(self, name, report, *args):
        """A run with --report=`report` and a log named after it; the run and its report."""
        done = self.run(name, *args, f"--report={report}", f"--log={Path(report).stem}.log")
        return done, self.report(report)


def build_package(cpack_config, out):
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run(["cpack", "--config", cpack_config, "-B", out], check=True, stdout=subprocess.PIPE, text=True)
    archives = [p for p in Path(out).iterdir() if p.suffix in (".zip", ".gz")]
    if len(archives) != 1:
        raise SystemExit(f"cpack made {archives}, not one archive")
    return archives[0]


def unpack(archive, target):
    shutil.unpack_archive(archive, target)
    top = list(Path(target).iterdir())
    if len(top) != 1 or not top[0].is_dir():
        raise SystemExit(f"{archive.name} does not hold one folder: {top}")
    return top[0]


def files_and_names(package, mode, repository):
    for program in PROGRAMS:
        check(package.exe(program).is_file(), f"{package.exe(program).name} is in the package")
    content = package.folder / "content"
    check((package.folder / "README.txt").is_file() and (content / "MANIFEST").is_file(), "README.txt and content/")
    licences = {p.stem for p in (package.folder / "licenses").glob("*.txt") if p.stat().st_size > 100}
    check(licences == LICENCES[mode], f"licence texts {sorted(licences)}")
    listed = {line.split()[0] for line in (content / "MANIFEST").read_text().splitlines() if line.strip()}
    on_disk = {p.relative_to(content).as_posix() for p in content.rglob("*") if p.is_file() and p.name != "MANIFEST"}
    check(listed == on_disk, f"content/MANIFEST lists the {len(on_disk)} content files")
    marks = [str(repository).encode(), str(repository).replace("/", "\\").encode()]
    naming = [str(p.relative_to(package.folder)) for p in package.folder.rglob("*")
              if p.is_file() and any(mark in p.read_bytes() for mark in marks)]
    check(not naming, f"no file names the repository {repository}: {naming}")


def linux_libraries(package):
    """Every library a program links comes from a Debian package that the README names (what
    those libraries load in turn comes with their packages)."""
    readme = (package.folder / "README.txt").read_text()
    owners = {}
    for program in PROGRAMS:
        listing = subprocess.run(["ldd", package.exe(program)], stdout=subprocess.PIPE, text=True, check=True).stdout
        check("not found" not in listing, f"{program}: every library found")
        paths = dict(re.findall(r"^\s*(\S+) => (/\S+)", listing, re.MULTILINE))
        dump = subprocess.run(["objdump", "-p", package.exe(program)], stdout=subprocess.PIPE, text=True, check=True)
        for name in re.findall(r"NEEDED\s+(\S+)", dump.stdout):
            path = paths.get(name, name)
            # dpkg knows a library by the path its package installed, /lib or /usr/lib.
            candidates = {path, os.path.realpath(path), re.sub(r"^/usr/lib/", "/lib/", os.path.realpath(path))}
            found = [subprocess.run(["dpkg", "-S", c], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                    text=True).stdout for c in candidates]
            owners[name] = next((f.split(":")[0] for f in found if f), f"(no package has {path})")
    for name, owner in sorted(owners.items()):
        check(re.search(rf"(^|[\s,]){re.escape(owner)}([\s,]|$)", readme, re.MULTILINE) is not None,
              f"{name} comes from {owner}, which the README names")


def windows_libraries(package, objdump):
    """Every DLL each program imports is beside it or part of Windows."""
    beside = {p.name.lower() for p in package.folder.glob("*.dll")}
    for program in PROGRAMS:
        dump = subprocess.run([objdump, "-p", package.exe(program)], stdout=subprocess.PIPE, text=True, check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        missing = sorted(d for d in dlls if d not in beside and d not in WINDOWS_DLLS and not d.startswith("api-ms-"))
        check(not missing, f"{program}: imports {sorted(dlls)}; none missing ({missing})")


def helps(package):
    for program in PROGRAMS:
        done = package.run(program, "--help", timeout=120)
        check(done.returncode == 0 and "usage: " in done.stdout, f"{program} --help: exit {done.returncode}")


def content_smoke(package):
    done, data = package.run_reporting("KestruneNative", "smoke.json", "--content-smoke", "--fixed-fps=60",
                                       "--frames=30", "--width=640", "--height=360", "--content=content",
                                       "--screenshot=smoke.png")
    check(done.returncode == 0 and data["success"], f"content smoke: exit {done.returncode}, {data.get('error')}")
    if data["success"]:
        scene = data["scene"]
        check(data["contentReady"] and scene["charactersLoaded"] == 2 and scene["effectModelsLoaded"] == 6
              and data["renderedFrames"] == 30, f"content smoke drew the duel: {scene}, {data['renderedFrames']} frames")
    shot = package.folder / "smoke.png"
    check(shot.exists() and shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is a PNG")


def launcher_offline(package):
    done, data = package.run_reporting("kestrune-play", "offline.json", "--offline", "--smoke-test", "--fixed-fps=60",
                                       "--frames=24", "--keys=3:+W,20:-W", "--record=offline.krpl")
    check(done.returncode == 0 and data["success"] and data["contentReady"]
          and data["scene"]["authoritativeSnapshots"] == 0,
          f"kestrune-play --offline plays the packaged content alone: exit {done.returncode}, {data.get('error')}")
    done, data = package.run_reporting("kestrune-play", "replay.json", "--replay=offline.krpl", "--smoke-test",
                                       "--frames=24")
    check(done.returncode == 0 and data["success"] and data["renderedFrames"] == 24,
          f"kestrune-play --replay plays the recording without a server: exit {done.returncode}, {data.get('error')}")


def server_gone(port):
    """Whether nothing accepts on the port any more, waiting up to SERVER_GONE_SECONDS."""
    def refused():
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", port)) != 0
    return wait_until(refused, SERVER_GONE_SECONDS, 0.2)


def launcher_online(package, frames):
    done, data = package.run_reporting("kestrune-play", "online.json", "--smoke-test", f"--frames={frames}",
                                       "--width=640", "--height=360")
    check(done.returncode == 0 and data["success"] and data["contentReady"]
          and data["scene"]["authoritativeSnapshots"] > 0,
          f"kestrune-play plays online on the packaged server: exit {done.returncode}, {data.get('error')}, "
          f"{data.get('scene', {}).get('authoritativeSnapshots')} snapshots")
    text = text_of(package.folder / "logs" / "kestrune-duel-server.log")
    check("with bots" in text and "joined" in text, "the packaged server took the program in with a bot")
    port = launcher_port(done.stdout)
    check(port is not None and server_gone(port), f"the server on port {port} is gone when the launcher ends")


def launcher_killed(package):
    """The launcher killed hard: the program and the server end with it."""
    command = package.command("kestrune-play", "--smoke-test", "--frames=10000", "--report=killed.json",
                              "--log=killed.log")
    launcher = subprocess.Popen(command, cwd=package.folder, env=package.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    port, seen = None, ""
    while port is None and (line := launcher.stdout.readline()):
        seen += line
        port = launcher_port(line)
    # Once connected the program draws its frames; a kill before that would find it unable to close.
    wait_until(lambda: "Network connected" in text_of(package.folder / "killed.log"), 120)
    launcher.kill()
    launcher.wait()
    check(port is not None and server_gone(port), f"killed launcher: its server on port {port} ends too ({seen!r})")
    if package.mode == "wine":
        return  # Windows ends the job's processes at once: the program has no chance to write a report
    wait_until((package.folder / "killed.json").exists, SERVER_GONE_SECONDS, 0.2)
    data = package.report("killed.json")
    check(data["success"] and 0 < data["renderedFrames"] < 10000,
          f"killed launcher: the program closed itself cleanly ({data.get('renderedFrames')} frames)")


def baker_import(package, samples, path_for):
    """The packaged baker imports CesiumMan into a copy of the content, which the program plays."""
    mine = package.folder / "my-content"
    shutil.copytree(package.folder / "content", mine)
    shutil.rmtree(mine / "warrior")
    done = package.run("kestrune-bake", "import", path_for(samples / "CesiumMan.gltf"), "--out=my-content/warrior",
                       "--class=warrior", "--clip=CH010301=#0")
    check(done.returncode == 0 and re.search(r"standing height 1\.\d\d m", done.stdout) is not None
          and "warning" not in done.stdout, f"kestrune-bake import: exit {done.returncode}, its height said")
    done, data = package.run_reporting("KestruneNative", "mine.json", "--content-smoke", "--fixed-fps=60",
                                       "--frames=10", "--width=640", "--height=360", "--content=my-content")
    check(done.returncode == 0 and data["success"] and data["scene"]["charactersLoaded"] == 2,
          f"the imported warrior plays: {data.get('error')}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("linux", "wine"), required=True)
    parser.add_argument("--cpack-config", type=Path, required=True)
    parser.add_argument("--out", type=Path, required=True, help="where cpack puts the package")
    parser.add_argument("--emulator", type=Path)
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--samples", type=Path, help="folder of the glTF samples")
    args = parser.parse_args()
    repository = Path(__file__).resolve().parents[2]
    archive = build_package(args.cpack_config, args.out)
    print(f"package: {archive} ({archive.stat().st_size} bytes)")
    with tempfile.TemporaryDirectory(prefix="kestrune-package-", ignore_cleanup_errors=True) as scratch:
        package = Package(unpack(archive, scratch), args.mode, args.emulator)
        files_and_names(package, args.mode, repository)
        linux_libraries(package) if args.mode == "linux" else windows_libraries(package, args.objdump)
        helps(package)
        content_smoke(package)
        launcher_offline(package)
        # Under Wine the duel draws at a few frames per second: fewer frames, as many snapshots.
        launcher_online(package, 100 if args.mode == "linux" else 40)
        launcher_killed(package)
        if args.samples:
            baker_import(package, args.samples.resolve(), windows_path if args.mode == "wine" else str)
    return e2e.finish()


if __name__ == "__main__":
    sys.exit(main())
