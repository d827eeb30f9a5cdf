#!/usr/bin/env python3
"""The per-machine package's Registry table against what DllRegisterServer wrote for a user.

    compare_registry_rows.py USER_EXPORT.txt REGISTRY.idt MODULE_PATH

USER_EXPORT.txt is `reg export HKCU` (as UTF-8) after `regsvr32 MODULE_PATH`; REGISTRY.idt is
`msiinfo export PACKAGE Registry`. Both are read as lines "key", "key | name = type data" for the
component's keys (those naming its ids), the root left out; the module's path and folder stand as
<module> and <folder> (the package names the installed file and folder; a folder property ends in
a backslash, DllRegisterServer's folder does not). Prints the differences; exit 1 if any.
"""
import re
import sys

OURS = re.compile(r"pvlAddIn|50654119-3BF3-4A45-97E1-C2E11656C8F5|1F5FCC6B-98CC-46BB-A0BB-5760C20E5652|"
                  r"255541DA-B966-4395-8B9C-20BC485F6CF1", re.I)


def ours_with_ancestors(key):
    parts = key.split("\\")
    return {"\\".join(parts[:n]) for n in range(1, len(parts) + 1) if OURS.search("\\".join(parts[:n]))}


def from_export(path, module):
    folder = module.rsplit("\\", 1)[0]
    lines, key = set(), None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        m = re.fullmatch(r"\[HKEY_CURRENT_USER\\(.*)\]", line)
        if m:
            key = m.group(1) if OURS.search(m.group(1)) else None
            if key:
                lines.add(key)
            continue
        m = re.fullmatch(r'(@|"((?:[^"\\]|\\.)*)")=(.*)', line)
        if not key or not m:
            continue
        name = "@" if m.group(1) == "@" else re.sub(r"\\(.)", r"\1", m.group(2))
        data = m.group(3)
        if data.startswith('"'):
            text = re.sub(r"\\(.)", r"\1", data[1:-1])
            text = {module: "<module>", folder: "<folder>"}.get(text, text)
            lines.add(f"{key} | {name} = REG_SZ {text}")
        elif data.startswith("dword:"):
            lines.add(f"{key} | {name} = REG_DWORD {int(data[6:], 16)}")
        else:
            lines.add(f"{key} | {name} = {data}")
    return lines


def from_registry_table(path):
    lines, problems = set(), []
    rows = [l.rstrip("\n").split("\t") for l in open(path, encoding="utf-8")][3:]  # after the 3 header lines
    for row in rows:
        _, root, key, name, value, component = row
        if root != "2":
            problems.append(f"row for {key} has root {root}, not 2 (HKEY_LOCAL_MACHINE)")
        if component != "Addin":
            problems.append(f"row for {key} belongs to component {component}, not the add-in's")
        lines |= ours_with_ancestors(key)
        if name == "*" and value == "":
            continue  # the key alone
        value = {"[#pvlAddIn.dll]": "<module>", "[INSTALLDIR]": "<folder>"}.get(value, value)
        value = re.sub(r"\[\\(.)\]", r"\1", value)
        shown = f"REG_DWORD {int(value[1:])}" if re.fullmatch(r"#\d+", value) else f"REG_SZ {value}"
        lines.add(f"{key} | {name or '@'} = {shown}")
    return lines, problems


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    user = from_export(sys.argv[1], sys.argv[3])
    package, problems = from_registry_table(sys.argv[2])
    for p in problems:
        print("problem:", p)
    for line in sorted(user - package):
        print("only written by DllRegisterServer:", line)
    for line in sorted(package - user):
        print("only in the package:", line)
    if not user:
        print("problem: DllRegisterServer wrote nothing")
    print(f"{len(user)} keys and values written by DllRegisterServer, {len(package)} in the package")
    sys.exit(1 if problems or user != package or not user else 0)


if __name__ == "__main__":
    main()
