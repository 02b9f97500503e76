#!/usr/bin/env python3
"""Checks the folder layering of src/ and tools/: every #include of a project
header must go to a folder its own folder may use (the table below), so no
folder includes one above or beside it and there are no cycles.
Prints each offending include and exits 1; exits 0 when the layering holds."""
import os
import re
import sys

# Folder -> the folders it may include (besides itself). Core folders form a
# chain: text and line at the bottom, the exchange layer above the codec and
# the port, engines on top. Windows use core and widgets; only app opens other
# windows. kxsim and kxctl sit on the core (kxctl also on the real ports).
ALLOWED = {
    "core/text": set(),
    "core/modbus": {"core/text"},
    "core/line": {"core/text", "core/modbus"},
    "core/files": {"core/text"},
    "core/device": {"core/text", "core/modbus"},
    "core/exchange": {"core/text", "core/modbus", "core/line", "core/device"},
    "core/traffic": {"core/text", "core/modbus", "core/line", "core/exchange", "core/device"},
    "core/routing": {"core/text", "core/modbus", "core/line", "core/exchange"},
    "core/tester": {"core/text", "core/modbus", "core/line", "core/exchange", "core/routing"},
    "core/comset": {"core/text", "core/modbus", "core/line", "core/exchange", "core/routing"},
    "core/fwupdate": {"core/text", "core/modbus", "core/line", "core/exchange", "core/device", "core/files"},
    "core/recorder": {"core/text", "core/modbus", "core/line", "core/exchange", "core/files"},
    "core/ramp": {"core/text", "core/files"},
    "core/monitor": {"core/text", "core/modbus", "core/line", "core/exchange", "core/device",
                     "core/files", "core/ramp"},
    "core/params": {"core/text", "core/modbus", "core/line", "core/exchange", "core/device",
                    "core/files", "core/monitor"},
    "serial": {"core/text", "core/modbus", "core/line"},
    "widgets": {"core/text"},
}
CORE = {k for k in ALLOWED if k.startswith("core/")}
WINDOWS = {"comset", "fwupdate", "monitor", "ramp", "recorder", "traffic"}
for w in WINDOWS:
    ALLOWED[w] = CORE | {"widgets", "serial"}
ALLOWED["app"] = CORE | {"widgets", "serial"} | WINDOWS
ALLOWED["tools/kxsim"] = CORE
ALLOWED["tools/kxctl"] = CORE | {"serial"}


def folder_of_file(path):
    parts = path.split("/")
    if parts[0] == "src":
        return "core/" + parts[2] if parts[1] == "core" else parts[1]
    return "/".join(parts[:2])


def folder_of_include(inc):
    parts = inc.split("/")
    if len(parts) < 2:
        return None  # a header beside the includer
    if parts[0] == "core":
        return "core/" + parts[1]
    if parts[0] in ("kxsim", "kxctl"):
        return "tools/" + parts[0]
    return parts[0]


def main(root):
    bad = []
    for top in ("src", "tools"):
        for d, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if not f.endswith((".h", ".cpp")):
                    continue
                rel = os.path.relpath(os.path.join(d, f), root)
                src = folder_of_file(rel)
                if src not in ALLOWED:
                    bad.append(f"{rel}: folder {src} is not in the layering table")
                    continue
                with open(os.path.join(root, rel), encoding="utf-8") as fh:
                    for n, line in enumerate(fh, 1):
                        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                        if not m:
                            continue
                        tgt = folder_of_include(m.group(1))
                        if tgt is None or tgt == src:
                            continue
                        if tgt not in ALLOWED[src]:
                            bad.append(f"{rel}:{n}: {src} may not include {m.group(1)}")
    # The table itself must be a hierarchy: no folder may reach itself.
    def reaches(start, node, seen):
        for nxt in ALLOWED.get(node, ()):
            if nxt == start:
                return True
            if nxt not in seen:
                seen.add(nxt)
                if reaches(start, nxt, seen):
                    return True
        return False
    bad += [f"layering table: {f} reaches itself" for f in sorted(ALLOWED) if reaches(f, f, set())]
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))
