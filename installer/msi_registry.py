#!/usr/bin/env python3
"""The per-machine package's registry rows, made from the table DllRegisterServer writes from.

    msi_registry.py COMPILER SOURCE_ROOT OUTPUT.wxi

server/registry_entries.inc is run through the target's own preprocessor (COMPILER -E), so that
its macros (the ids, the type library's win32/win64) mean what they mean in the module built by
that compiler. Each entry becomes a WiX RegistryValue under HKLM instead of HKCU; the module's
path and folder become the installed file's ([#pvlAddIn.dll]) and the installation folder's.
OUTPUT is a WiX include, placed inside the add-in's component by installer/parvaline.wxs.
"""
import re
import subprocess
import sys
from xml.sax.saxutils import quoteattr

# The File Id of the add-in in installer/parvaline.wxs.
MODULE_FILE_ID = "pvlAddIn.dll"

TOKEN = re.compile(r'L?"(?:[^"\\]|\\.)*"|[A-Za-z_]\w*|\d+|[(),]|\S')


def unescape(literal):
    body = literal[literal.index('"') + 1:-1]
    return re.sub(r'\\(.)', r'\1', body)


def entries(preprocessed):
    """The PVL_REGISTRY_ENTRY rows as lists of five arguments (strings joined, nullptr as None)."""
    tokens = TOKEN.findall(preprocessed)
    rows, i = [], 0
    while i < len(tokens):
        if tokens[i] != "pvl_registry_entry":
            raise SystemExit(f"msi_registry: unexpected '{tokens[i]}' in the registry table")
        if tokens[i + 1] != "(":
            raise SystemExit("msi_registry: an entry without its arguments")
        args, current, i = [], [], i + 2
        while tokens[i] != ")":
            if tokens[i] == ",":
                args.append(current)
                current = []
            else:
                current.append(tokens[i])
            i += 1
        args.append(current)
        i += 1
        if len(args) != 5:
            raise SystemExit(f"msi_registry: an entry has {len(args)} arguments, not 5: {args}")
        rows.append([argument(a) for a in args])
    return rows


def argument(tokens):
    if tokens == ["nullptr"]:
        return None
    if all(t.startswith(('"', 'L"')) for t in tokens):
        return "".join(unescape(t) for t in tokens)  # adjacent literals, as the compiler joins them
    if len(tokens) == 1:
        return tokens[0]
    raise SystemExit(f"msi_registry: cannot read {' '.join(tokens)}")


def formatted(text):
    """Text as a literal in the Registry table's Formatted column: brackets are property references
    there, and a leading # would make the text a number."""
    text = re.sub(r"[\[\]]", lambda m: "[\\" + m.group(0) + "]", text)
    return "#" + text if text.startswith("#") else text


def row(key, name, source, text, number):
    attrs = {"Root": "HKLM", "Key": key}
    if source == "KeyOnly":
        # "*": the key is created on installation and removed, with what is in it, on removal.
        attrs.update(Name="*", Type="string", Value="")
    elif source == "Number":
        attrs.update(Type="integer", Value=str(int(number)))
    else:
        value = {"Text": lambda: formatted(text), "ModulePath": lambda: f"[#{MODULE_FILE_ID}]",
                 # The folder as a directory property gives it, with a trailing backslash.
                 "ModuleFolder": lambda: "[INSTALLDIR]"}.get(source)
        if value is None:
            raise SystemExit(f"msi_registry: unknown source '{source}'")
        attrs.update(Type="string", Value=value())
    if name is not None and source != "KeyOnly":
        attrs["Name"] = name
    order = ["Root", "Key", "Name", "Type", "Value"]
    return "  <RegistryValue " + " ".join(f"{k}={quoteattr(attrs[k])}" for k in order if k in attrs) + "/>"


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    compiler, root, output = sys.argv[1:]
    preprocessed = subprocess.run(
        [compiler, "-E", "-P", "-x", "c++", "-I", root,
         "-DPVL_REGISTRY_ENTRY(key,name,source,text,number)=pvl_registry_entry(key,name,source,text,number)",
         f"{root}/server/registry_entries.inc"],
        check=True, capture_output=True, text=True).stdout
    rows = entries(preprocessed)
    if not rows:
        raise SystemExit("msi_registry: the registry table is empty")
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!-- Made by installer/msi_registry.py from server/registry_entries.inc: do not edit. -->",
             "<Include>"] + [row(*r) for r in rows] + ["</Include>", ""]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
