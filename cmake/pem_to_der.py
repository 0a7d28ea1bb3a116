#!/usr/bin/env python3
"""Writes the certificates of a PEM file as DER, one after the other: the form in which the
program stores its trusted roots (a binary list compresses better than base64 text).
Each certificate must be one whole DER SEQUENCE, which is how the program splits the list.

Usage: pem_to_der.py IN.pem OUT.der
"""
import base64
import re
import sys


def sequence_size(der):
    """Length of the outer DER SEQUENCE, header included; 0 when it is not one."""
    if len(der) < 2 or der[0] != 0x30:
        return 0
    if der[1] < 0x80:
        return 2 + der[1]
    count = der[1] & 0x7F
    if count == 0 or count > 3 or len(der) < 2 + count:
        return 0
    return 2 + count + int.from_bytes(der[2:2 + count], "big")


def main():
    text = open(sys.argv[1], encoding="utf-8").read()
    blocks = re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", text, re.S)
    if not blocks:
        sys.exit(f"pem_to_der: no certificate in {sys.argv[1]}")
    out = bytearray()
    for number, block in enumerate(blocks, 1):
        der = base64.b64decode("".join(block.split()), validate=True)
        if sequence_size(der) != len(der):
            sys.exit(f"pem_to_der: certificate {number} of {sys.argv[1]} is not one DER SEQUENCE")
        out += der
    with open(sys.argv[2], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
