#!/usr/bin/python3
"""Writes the seed files of the passphrase envelope fuzz target into fuzz/corpus/envelope (run from
the repository root).

An envelope is the magic 89 'VeilPW' 1A, a version byte, the key derivation (2, Argon2id), the
passes and the memory in KiB (32-bit little-endian), a 16-byte salt, a 24-byte nonce, then the
cipher text and its 16-byte tag. The seeds cover each header field at and around its limits; their
tags are not valid, so opening them fails like a wrong passphrase (the fuzz target also seals its
input under a passphrase and opens it again, which reaches the successful path).
"""
import os
import struct

FOLDER = os.path.join("fuzz", "corpus", "envelope")
MAGIC = b"\x89VeilPW\x1a"


def envelope(version=1, derivation=2, passes=1, memory=8, body=b"message", tag=b"\0" * 16):
    return (MAGIC + bytes([version, derivation]) + struct.pack("<II", passes, memory) + bytes(range(16)) +
            bytes(range(32, 56)) + body + tag)


SEEDS = {
    "cheap.env": envelope(),
    "empty-message.env": envelope(body=b""),
    "two-passes-64k.env": envelope(passes=2, memory=64),
    "too-costly.env": envelope(passes=9, memory=1 << 30),
    "no-passes.env": envelope(passes=0),
    "argon2i.env": envelope(derivation=1),
    "newer-version.env": envelope(version=2),
    "cut-short.env": envelope()[:60],
    "magic-only.env": MAGIC,
    "plain-text.txt": b"an ordinary hidden text",
}

os.makedirs(FOLDER, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(data)
