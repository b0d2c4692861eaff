"""Builds the release program a second time, from the same sources in a build folder of its
own, and compares the bytes with the first build: no time stamp or folder name may differ."""
import hashlib
import shutil
import subprocess
import sys
from pathlib import Path

source, folder, first, toolchain, build_type = sys.argv[1:6]
folder = Path(folder)
shutil.rmtree(folder, ignore_errors=True)
subprocess.run(["cmake", "-S", source, "-B", str(folder), "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                f"-DCMAKE_BUILD_TYPE={build_type}"], check=True, stdout=subprocess.DEVNULL)
subprocess.run(["cmake", "--build", str(folder), "-j2", "--target", "quorvel-setup"], check=True,
               stdout=subprocess.DEVNULL)
digest = {p: hashlib.sha256(Path(p).read_bytes()).hexdigest() for p in (first, folder / "src" / "quorvel-setup.exe")}
for p, d in digest.items():
    print(d, p)
shutil.rmtree(folder, ignore_errors=True)
if len(set(digest.values())) != 1:
    sys.exit("the two builds differ")
print("reproducible:", Path(first).stat().st_size, "bytes")
