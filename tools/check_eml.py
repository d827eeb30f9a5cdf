#!/usr/bin/env python3
"""Checks a saved mail (.eml) as any mail program would read it: it parses with Python's email
package, is multipart/mixed with a short text/plain body, and carries the voice message as an
audio/mpeg attachment whose bytes are exactly those of the MP3 the add-in made.

    check_eml.py MAIL.eml PARVALINE.mp3 [--extract OUT.mp3]
"""
import email
import email.policy
import sys


def check(eml_path, mp3_path, extract=None):
    with open(eml_path, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    failures = []
    if b"\r\n" not in raw or b"\n" in raw.replace(b"\r\n", b""):
        failures.append("lines do not all end in CRLF")
    if msg.get_content_type() != "multipart/mixed":
        failures.append(f"the mail is {msg.get_content_type()}, not multipart/mixed")
    if msg["MIME-Version"] != "1.0":
        failures.append("no MIME-Version: 1.0 header")
    for header in ("From", "Subject", "Date", "Message-ID"):
        if not msg[header]:
            failures.append(f"no {header} header")
    if msg.defects:
        failures.append(f"the parser found defects: {msg.defects}")
    body = msg.get_body(preferencelist=("plain",))
    if body is None or not body.get_content().strip():
        failures.append("no text/plain body")
    attachments = list(msg.iter_attachments())
    audio = [a for a in attachments if a.get_content_type() == "audio/mpeg"]
    if len(audio) != 1:
        failures.append(f"{len(audio)} audio/mpeg attachments instead of one")
    else:
        part = audio[0]
        data = part.get_content()
        with open(mp3_path, "rb") as f:
            mp3 = f.read()
        if part["Content-Transfer-Encoding"] != "base64":
            failures.append("the attachment is not base64")
        if part.get_filename() != "Parvaline.mp3":
            failures.append(f"the attachment is named {part.get_filename()!r}")
        if data != mp3:
            failures.append(f"the attachment ({len(data)} bytes) differs from {mp3_path} ({len(mp3)} bytes)")
        if extract:
            with open(extract, "wb") as f:
                f.write(data)
        print(f"{eml_path}: multipart/mixed, body {len(body.get_content()) if body else 0} characters, "
              f"attachment {part.get_filename()} {len(data)} bytes {part.get_content_type()}"
              f"{', identical to ' + mp3_path if data == mp3 else ''}")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    args = sys.argv[1:]
    extract = None
    if "--extract" in args:
        i = args.index("--extract")
        extract = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(check(args[0], args[1], extract))
