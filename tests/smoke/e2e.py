"""What the end-to-end scripts share: the environment the built programs run in."""
import glob
import os
from pathlib import Path

# Mesa loads its GL driver when a surface first needs one and unloads it at exit, taking the
# roots of the driver's own allocations with it, so that LeakSanitizer would report that memory
# as the program's leaks. Preloaded, the driver stays until the end and leak detection stays on
# for the program's own memory.
MESA_LIBRARIES = ("dri/swrast_dri.so", "libEGL_mesa.so.0", "libGLX_mesa.so.0")


def mesa_preload():
    found = [path for name in MESA_LIBRARIES for path in sorted(glob.glob(f"/usr/lib/*/{name}"))[:1]]
    if len(found) != len(MESA_LIBRARIES):
        raise SystemExit(f"Mesa's libraries {MESA_LIBRARIES} are needed (scripts/bootstrap installs them); found {found}")
    return ":".join(found)


def program_environment(headless=True):
    """The environment for a run of a Linux program of the build: without a display when
    `headless` (SDL then renders offscreen), with Mesa's driver kept loaded."""
    env = {k: v for k, v in os.environ.items() if not (headless and k in ("DISPLAY", "WAYLAND_DISPLAY"))}
    env["LD_PRELOAD"] = mesa_preload()
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0"
    env["LSAN_OPTIONS"] = f"suppressions={Path(__file__).resolve().parents[1] / 'lsan.supp'}"
    return env
