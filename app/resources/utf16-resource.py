#!/usr/bin/env python3
"""utf16-resource.py IN OUT: writes the UTF-8 text file IN as UTF-16LE with
a byte-order mark (the form the program reads its licence text in), line
ends as CR LF."""
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    text = open(sys.argv[1], encoding="utf-8").read().replace("\r\n", "\n").replace("\n", "\r\n")
    data = b"\xff\xfe" + text.encode("utf-16-le")
    with open(sys.argv[2], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
