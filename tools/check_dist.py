"""Checks what the release artefacts hold.

    python tools/check_dist.py [--strict] SDIST WHEEL [WHEEL ...]

The sdist must hold every file that git tracks: nothing the build or the
tests need left out. A file that git does not track but the sdist holds is
reported, and fails the check under --strict (for a release: no scratch
file swept in).
Every wheel must hold every file of the Python packages that pyproject.toml
names, and the wheels must hold the same files as one another (a wheel built
from the sdist against one built from the repository, say), extension
modules included.
"""

import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

ROOT = Path(__file__).resolve().parents[1]


def sdist_files(sdist):
    """The sdist's member files, relative to its top directory."""
    with tarfile.open(sdist) as archive:
        names = [m.name for m in archive.getmembers() if m.isfile()]
    return {name.split("/", 1)[1] for name in names}


def tracked_files():
    listing = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                             capture_output=True, text=True).stdout
    return {name for name in listing.split("\0") if name}


def wheel_files(wheel):
    """The wheel's files, its .dist-info folder left out."""
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
    return {name for name in names if ".dist-info/" not in name}


def package_files():
    """Where each file of the Python packages that the wheel ships lands in it."""
    config = tomllib.loads((ROOT / "pyproject.toml").read_text())
    packages = config["tool"]["scikit-build"].get("wheel", {}).get("packages", [])
    expected = set()
    for package in map(Path, packages):
        for source in (ROOT / package).rglob("*"):
            if source.is_file() and "__pycache__" not in source.parts:
                expected.add(f"{package.name}/{source.relative_to(ROOT / package).as_posix()}")
    return expected


def problems(sdist, wheels, strict):
    found = []
    in_sdist = sdist_files(sdist) - {"PKG-INFO"}
    tracked = tracked_files()
    for name in sorted(tracked - in_sdist):
        found.append(f"{sdist.name} lacks {name}")
    for name in sorted(in_sdist - tracked):
        untracked = f"{sdist.name} holds {name}, which git does not track"
        if strict:
            found.append(untracked)
        else:
            print(f"check_dist: warning: {untracked}", file=sys.stderr)
    expected = package_files()
    first = wheel_files(wheels[0])
    if not any(name.endswith(".so") for name in first):
        found.append(f"{wheels[0].name} holds no extension module")
    for wheel in wheels:
        files = wheel_files(wheel)
        found += [f"{wheel.name} lacks {name}" for name in sorted(expected - files)]
        found += [f"{wheel.name} lacks {name}, which {wheels[0].name} holds"
                  for name in sorted(first - files)]
        found += [f"{wheel.name} holds {name}, which {wheels[0].name} lacks"
                  for name in sorted(files - first)]
    return found


def main():
    args = sys.argv[1:]
    strict = "--strict" in args
    paths = [Path(arg) for arg in args if arg != "--strict"]
    if len(paths) < 2:
        sys.exit(__doc__.split("\n\n")[1])
    sdist, *wheels = paths
    found = problems(sdist, wheels, strict)
    for problem in found:
        print(f"check_dist: {problem}", file=sys.stderr)
    if found:
        sys.exit(1)
    print(f"{sdist.name}: every tracked file; "
          + ", ".join(f"{w.name}: {len(wheel_files(w))} files" for w in wheels))


if __name__ == "__main__":
    main()
