#!/usr/bin/python3
"""Checks customUI documents against Microsoft's schema (customUI14.xsd, read where it lies; libxml2
cannot compile the published file, Debian's python3-xmlschema can):

- every DOCUMENT named must be valid (the module's own ribbon XML);
- in SAMPLES, the documents the simulated ribbon wrote with its verdict in their names
  (NN-accepted.xml, NN-refused.xml): the schema must agree with each verdict, so that the host
  accepts what Office's schema accepts and refuses what it refuses.

    check_customui.py customUI14.xsd SAMPLES_DIR [DOCUMENT.xml ...]

Run it with Debian's interpreter (/usr/bin/python3): another python3 on the PATH may lack the package.
"""
import pathlib
import sys

try:
    import xmlschema
except ImportError:
    sys.exit("check_customui: python3-xmlschema is not installed (tools/setup.sh installs it)")


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    schema = xmlschema.XMLSchema(argv[1])
    failures = []
    for document in argv[3:]:
        errors = list(schema.iter_errors(document))
        print(f"{document}: {'valid' if not errors else 'INVALID'}")
        failures += [f"{document}: {e.reason} (at {e.path})" for e in errors[:3]]
    samples = sorted(pathlib.Path(argv[2]).glob("*.xml"))
    if not samples:
        failures.append(f"no samples in {argv[2]}: the RibbonHost tests write them")
    for sample in samples:
        accepted = sample.stem.endswith("-accepted")
        errors = list(schema.iter_errors(str(sample)))
        verdict = "valid" if not errors else f"invalid ({errors[0].reason})"
        print(f"{sample.name}: the host {'accepted' if accepted else 'refused'} it; the schema finds it {verdict}")
        if accepted == bool(errors):
            failures.append(f"{sample.name}: the host and the schema disagree")
    for f in failures:
        print(f"FAIL: {f}")
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
