#!/usr/bin/env python3
"""Where the bytes of the release program go.

Links the release program of a build folder once more, from that folder's own objects and
libraries (nothing is compiled, nothing in the build folder is written), with a linker map
(-Wl,-Map) into a folder of its own, then prints:

  - the program's size and the size of each PE section in the file;
  - the largest contributors by object file or archive member, all sections together;
  - the largest contributors per section (.text, .rdata, .eh_frame, .rsrc, ...).

Usage (after `cmake --build --preset win32`):
    python3 scripts/size-report.py [--build build/win32] [--out build/win32-map] [--top 25]

The relinked program must come out byte for byte the release program (a map changes nothing);
the report says so, or warns when it does not (e.g. the build folder is stale).
"""
import argparse
import collections
import re
import shlex
import struct
import subprocess
import sys
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
TARGET = "src/quorvel-setup.exe"


def link_command(build):
    """The link command ninja runs for the release program, as an argument list."""
    out = subprocess.run(["ninja", "-C", str(build), "-t", "commands", TARGET], check=True,
                         capture_output=True, text=True).stdout.strip().splitlines()[-1]
    # ": && <link> && <post-build steps>": keep the link only.
    out = out.removeprefix(": && ")
    return shlex.split(out.split(" && ")[0])


def relink(build, outdir):
    outdir.mkdir(parents=True, exist_ok=True)
    exe, map_file = outdir / "quorvel-setup.exe", outdir / "quorvel-setup.map"
    args, cmd, skip = link_command(build), [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a == "-o":
            cmd += ["-o", str(exe)]
            skip = True
        elif a.startswith("-Wl,--out-implib"):
            continue
        else:
            cmd.append(a)
    cmd.append(f"-Wl,-Map={map_file}")
    subprocess.run(cmd, cwd=build, check=True)
    return exe, map_file


RT_NAMES = {3: "RT_ICON", 10: "RT_RCDATA", 14: "RT_GROUP_ICON", 16: "RT_VERSION", 24: "RT_MANIFEST"}


def pe_resources(path):
    """[(type, name, bytes)] of every resource of a PE file (first language of each)."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsect, optsize = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    dd = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    res_rva = struct.unpack_from("<I", data, dd + 16)[0]
    sects = [struct.unpack_from("<IIII", data, opt + optsize + 40 * i + 8) for i in range(nsect)]

    def off(rva):
        return next(raw + rva - va for vsize, va, rawsize, raw in sects if va <= rva < va + max(vsize, rawsize))

    base, out = off(res_rva), []

    def entries(o):
        named, ids = struct.unpack_from("<HH", data, o + 12)
        for i in range(named + ids):
            name, child = struct.unpack_from("<II", data, o + 16 + 8 * i)
            if name & 0x80000000:
                n = base + (name & 0x7FFFFFFF)
                name = data[n + 2:n + 2 + 2 * struct.unpack_from("<H", data, n)[0]].decode("utf-16-le")
            yield name, child & 0x7FFFFFFF

    for typ, c1 in entries(base):
        for name, c2 in entries(base + c1):
            for _, c3 in entries(base + c2):
                out.append((RT_NAMES.get(typ, typ), name, struct.unpack_from("<I", data, base + c3 + 4)[0]))
                break
    return out


def pe_sections(path):
    """[(name, bytes in the file)] of a PE file, and its total size."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsect, optsize = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    out = []
    for i in range(nsect):
        s = pe + 24 + optsize + 40 * i
        name = data[s:s + 8].rstrip(b"\0").decode()
        out.append((name, struct.unpack_from("<I", data, s + 16)[0]))
    return out, len(data)


INPUT = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
INPUT_CONT = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
OUTPUT = re.compile(r"^(\.\S+|\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
OUTPUT_NAME_ONLY = re.compile(r"^(\.\S+)\s*$")


def short(obj):
    """A readable name of an input file: archive(member) or the object's file name."""
    obj = obj.strip()
    m = re.match(r"(.*?)\((.*)\)$", obj)
    if m:
        return f"{Path(m.group(1)).name}({m.group(2)})"
    return Path(obj).name


def parse_map(map_file):
    """{(output section, input file): bytes} from a GNU ld map."""
    sizes = collections.Counter()
    section, pending = None, None
    in_memory_map = False
    for line in map_file.read_text(errors="replace").splitlines():
        if not in_memory_map:
            in_memory_map = line.startswith("Linker script and memory map")
            continue
        if line.startswith(("LOAD ", "OUTPUT(", "START GROUP", "END GROUP")):
            continue
        if m := OUTPUT.match(line):
            section, pending = m.group(1), None
            continue
        if m := OUTPUT_NAME_ONLY.match(line):
            section, pending = m.group(1), None
            continue
        if pending is not None:
            pending = None
            if m := INPUT_CONT.match(line):
                size = int(m.group(2), 16)
                if size and section:
                    sizes[(section, short(m.group(3)))] += size
                continue
        if m := INPUT.match(line):
            size = int(m.group(3), 16)
            if size and section:
                sizes[(section, short(m.group(4)))] += size
            continue
        if re.match(r"^ [^*\s]\S*$", line):  # a long input section name: figures on the next line
            pending = line.strip()
    return sizes


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(SOURCE / "build" / "win32"), help="release build folder")
    ap.add_argument("--out", help="folder for the relinked program and its map (default: BUILD-map)")
    ap.add_argument("--top", type=int, default=25, help="rows per table")
    ap.add_argument("--sections", default=".text,.rdata,.eh_frame,.data,.rsrc",
                    help="sections that get a table of their own")
    a = ap.parse_args()
    build = Path(a.build).resolve()
    release = build / TARGET
    if not release.exists():
        raise SystemExit(f"{release} is missing: build the win32 preset first (cmake --build --preset win32)")
    outdir = Path(a.out).resolve() if a.out else build.with_name(build.name + "-map")
    exe, map_file = relink(build, outdir)

    same = exe.read_bytes() == release.read_bytes()
    sections, total = pe_sections(release)
    print(f"{release}: {total:,} bytes" + ("" if same else
          f"  (WARNING: the relinked program differs: {exe.stat().st_size:,} bytes; is the build stale?)"))
    print(f"map: {map_file}\n")
    print(f"{'section':12}{'bytes in file':>15}{'share':>8}")
    for name, size in sections:
        print(f"{name:12}{size:15,}{size / total:8.1%}")
    print(f"{'(headers)':12}{total - sum(s for _, s in sections):15,}")

    print("\nResources (.rsrc):")
    for typ, name, n in sorted(pe_resources(release), key=lambda r: -r[2]):
        print(f"{n:10,}  {typ} {name}")

    sizes = parse_map(map_file)
    # ld names sections ".eh_frame" in the map; the PE file truncates to 8 characters.
    by_obj = collections.Counter()
    for (sect, obj), n in sizes.items():
        by_obj[obj] += n
    print(f"\nTop {a.top} input files, all sections (bytes before file alignment):")
    for obj, n in by_obj.most_common(a.top):
        detail = ", ".join(f"{s} {v:,}" for (s, o), v in sorted(sizes.items(), key=lambda kv: -kv[1])
                           if o == obj and v >= 512)
        print(f"{n:10,}  {obj}  [{detail}]")

    for want in a.sections.split(","):
        rows = [(o, n) for (s, o), n in sizes.items() if s == want]
        if not rows:
            continue
        rows.sort(key=lambda r: -r[1])
        print(f"\n{want}: {sum(n for _, n in rows):,} bytes in {len(rows)} input files; top {a.top}:")
        for o, n in rows[:a.top]:
            print(f"{n:10,}  {o}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
