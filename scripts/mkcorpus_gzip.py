#!/usr/bin/env python3
# Writes the seed corpus of the gzip fuzz target: sound streams (levels, members, header fields)
# and damaged ones (cut, wrong checksums, bytes after a member, reserved flags).
#   python3 scripts/mkcorpus_gzip.py fuzz/corpus/gzip
import gzip, zlib, struct, os, sys
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
text = b"".join(b"%d.00 %d.00 %.2f\r\n" % (3566000 + i % 7, 5936000 + i // 7, 100 + i * 0.25) for i in range(60))
text += b"X Y Z\n1 2\r3 4 5\n\x1a after"
good = gzip.compress(text, 6, mtime=0)
def put(name, data):
    open(os.path.join(out, name), "wb").write(data)
put("good", good)
put("level1", gzip.compress(text, 1, mtime=0))
put("level9", gzip.compress(text, 9, mtime=0))
put("two_members", good + gzip.compress(b"7 8 9\n", 6, mtime=0))
put("empty_member", gzip.compress(b"", 6, mtime=0))
put("empty_then_data", gzip.compress(b"", 6, mtime=0) + good)
put("header_only", b"\x1f\x8b")
put("header_10", good[:10])
put("truncated_mid", good[: len(good) // 2])
put("truncated_trailer", good[:-3])
bad = bytearray(good); bad[-6] ^= 1; put("bad_crc", bytes(bad))
bad = bytearray(good); bad[-2] ^= 1; put("bad_isize", bytes(bad))
put("garbage_after", good + b"garbage\n")
put("zeros_after", good + b"\0" * 8)
put("half_magic_after", good + b"\x1f")
bad = bytearray(good); bad[2] = 7; put("bad_method", bytes(bad))
bad = bytearray(good); bad[20] ^= 0xFF; put("bad_block", bytes(bad))
# FNAME, FCOMMENT, FEXTRA, FHCRC headers
body = zlib.compressobj(6, zlib.DEFLATED, -15)
raw = body.compress(text) + body.flush()
trailer = struct.pack("<II", zlib.crc32(text), len(text))
def hdr(flags, extra=b""):
    return b"\x1f\x8b\x08" + bytes([flags]) + b"\0\0\0\0\0\x03" + extra
put("fname", hdr(8, b"blatt.xyz\0") + raw + trailer)
put("fcomment", hdr(16, b"Kommentar\0") + raw + trailer)
put("fextra", hdr(4, struct.pack("<H", 6) + b"AB\x02\0xy") + raw + trailer)
put("fextra_short", hdr(4, struct.pack("<H", 600) + b"AB"))
h = hdr(2); put("fhcrc", h + struct.pack("<H", zlib.crc32(h) & 0xFFFF) + raw + trailer)
put("fhcrc_bad", h + b"\0\0" + raw + trailer)
put("reserved_flag", hdr(0x20) + raw + trailer)
put("stored_block", gzip.compress(text, 0, mtime=0))
put("not_gzip_text", text)
