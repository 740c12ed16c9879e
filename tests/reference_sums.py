#!/usr/bin/env python3
"""Expected pass sums for the same-sum test in pass_test.cpp.

An independent transcription of the buffer fill and of the step loop, in plain Python integers
masked to 32 bits: the sums of 1,000,000 steps over a filled buffer of 2^buflog + 4 bytes.
Run it when the fill pattern changes and copy its output into the test.
"""

MULTIPLIER = 200002979
STEPS = 1000000


def word(k):
    """The fill's 4-byte word number k."""
    h = (k * 2654435761) & 0xFFFFFFFF
    h ^= h >> 16
    h = (h * 0x85EBCA6B) & 0xFFFFFFFF
    h ^= h >> 13
    return h | 0x01010101


def pass_sum(buflog):
    size = (1 << buflog) + 4
    buf = b"".join(word(k).to_bytes(4, "little") for k in range(size // 4))
    m1 = (1 << buflog) - 1
    m2, m4 = m1 >> 2, m1 >> 4
    c, total = 1, 0
    for _ in range(STEPS):
        c = (c * MULTIPLIER + 1) & 0xFFFFFFFF
        for offset in (c & m1, c & m2, c & m4):
            total += int.from_bytes(buf[offset:offset + 4], "little")
        total &= 0xFFFFFFFF
    return total


if __name__ == "__main__":
    for buflog in (17, 21, 24):
        print(f"{{{buflog}, {pass_sum(buflog)}u}}")
