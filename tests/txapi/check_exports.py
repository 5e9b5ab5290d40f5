#!/usr/bin/env python3
"""Checks the exports and imports of built Nb5TxAPI.dll files.

    check_exports.py BITS:OBJDUMP:DLL ...

For each DLL, `OBJDUMP -p` must show exactly the seventeen exports below
(the members' names those of its architecture), each by its name at its
ordinal (objdump counts name entries from the ordinal base: Nb5TxInit
shows as [0] with base 1), no export without a name, and imports of
Windows system DLLs only (the DLL is self-contained: no C++ runtime,
threads library or FFmpeg DLL beside it). Exit 0 when all pass; every
mismatch is printed.
"""
import re
import subprocess
import sys

# Ordinal -> name: the C functions, then the CNb5TxAPI members under the
# names Microsoft's compilers give them (what Nb5TxAPI.lib links a host to).
C_FUNCTIONS = {
    1: "Nb5TxInit",
    2: "Nb5TxStart",
    3: "Nb5TxStop",
    4: "Nb5TxFree",
    5: "Nb5TxIsStopped",
    6: "Nb5TxGetLastError",
    7: "Nb5TxSendCommand",
}
MEMBERS = {  # ordinal: (x86_64, i686)
    8: ("??0CNb5TxAPI@@QEAA@XZ", "??0CNb5TxAPI@@QAE@XZ"),  # CNb5TxAPI()
    9: ("??4CNb5TxAPI@@QEAAAEAV0@AEBV0@@Z", "??4CNb5TxAPI@@QAEAAV0@ABV0@@Z"),  # operator=
    10: ("?Free@CNb5TxAPI@@QEAAHXZ", "?Free@CNb5TxAPI@@QAEHXZ"),
    11: ("?GetLastError@CNb5TxAPI@@QEAAKXZ", "?GetLastError@CNb5TxAPI@@QAEKXZ"),
    12: ("?Init@CNb5TxAPI@@QEAAHXZ", "?Init@CNb5TxAPI@@QAEHXZ"),
    13: ("?IsStopped@CNb5TxAPI@@QEAAHXZ", "?IsStopped@CNb5TxAPI@@QAEHXZ"),
    14: ("?SendCommand@CNb5TxAPI@@QEAAJIJ@Z", "?SendCommand@CNb5TxAPI@@QAEJIJ@Z"),
    15: ("?Start@CNb5TxAPI@@QEAAHUNb5TxInitParameters@@@Z",
         "?Start@CNb5TxAPI@@QAEHUNb5TxInitParameters@@@Z"),
    16: ("?Stop@CNb5TxAPI@@QEAAHXZ", "?Stop@CNb5TxAPI@@QAEHXZ"),
    17: ("?__autoclassinit2@CNb5TxAPI@@QEAAX_K@Z", "?__autoclassinit2@CNb5TxAPI@@QAEXI@Z"),
}


def exports_of(bits):
    table = dict(C_FUNCTIONS)
    table.update({o: names[0 if bits == "8" else 1] for o, names in MEMBERS.items()})
    return table


# Windows' own DLLs (lower case).
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "dbghelp.dll", "dwmapi.dll", "gdi32.dll", "gdiplus.dll", "iphlpapi.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "secur32.dll", "setupapi.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "userenv.dll", "version.dll", "winhttp.dll",
    "winmm.dll", "ws2_32.dll", "wtsapi32.dll", "ntdll.dll", "dnsapi.dll", "mswsock.dll",
}


def check(bits, objdump, dll):
    expected = exports_of(bits)
    text = subprocess.run([objdump, "-p", dll], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, check=False).stdout
    bad = []
    want_format = "pei-x86-64" if bits == "8" else "pei-i386"
    if "file format %s" % want_format not in text:
        bad.append("not a %s file" % want_format)
    m = re.search(r"^Ordinal Base\s+(\d+)", text, re.M)
    base = int(m.group(1)) if m else None
    if base != 1:
        bad.append("ordinal base %r, expected 1" % base)
        base = base or 1
    m = re.search(r"Export Address Table\s+([0-9a-fA-F]+)\n\s*\[Name Pointer/Ordinal\] Table\s+([0-9a-fA-F]+)",
                  text)
    if not m:
        bad.append("no export table")
    else:
        addresses, names = int(m.group(1), 16), int(m.group(2), 16)
        if addresses != len(expected) or names != len(expected):
            bad.append("%d exports, %d names; expected %d of each" % (addresses, names,
                                                                      len(expected)))
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    seen = {}
    if len(table) == 2:
        for line in table[1].splitlines()[1:]:
            e = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)\s*$", line)
            if not e:
                break
            seen[int(e.group(1)) + base] = e.group(2)
    if seen != expected:
        for ordinal in sorted(set(seen) | set(expected)):
            if seen.get(ordinal) != expected.get(ordinal):
                bad.append("ordinal %d: %r, expected %r" % (ordinal, seen.get(ordinal),
                                                           expected.get(ordinal)))
    imports = re.findall(r"^\s*DLL Name: (\S+)", text, re.M)
    if not imports:
        bad.append("no imports read")
    for name in imports:
        if name.lower() not in SYSTEM_DLLS:
            bad.append("imports %s, which is no system DLL" % name)
    print("%s (%s-bit): %d exports, imports %s" % (dll, 64 if bits == "8" else 32, len(seen),
                                                    ", ".join(sorted(imports, key=str.lower))))
    return bad


def main():
    failures = 0
    for arg in sys.argv[1:]:
        bits, objdump, dll = arg.split(":", 2)
        try:
            bad = check(bits, objdump, dll)
        except OSError as e:
            bad = ["cannot run %s: %s" % (objdump, e)]
        for b in bad:
            print("FAIL: %s: %s" % (dll, b))
        failures += len(bad)
    return 1 if failures or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
