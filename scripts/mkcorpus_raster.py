#!/usr/bin/env python3
# Writes the seed corpus of the raster fuzz target: small sound GeoTIFFs (strips, tiles, DEFLATE,
# BigTIFF, south-up, scale and NoData) and ASCII grids, and damaged ones (cut short at several
# places, a broken DEFLATE block, absurd sizes in the header, huge ncols, negative cell size).
# Needs gdal-bin.
#   python3 scripts/mkcorpus_raster.py fuzz/corpus/raster
import os, struct, subprocess, sys, tempfile
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
tmp = tempfile.mkdtemp()

def put(name, data):
    open(os.path.join(out, name), "wb").write(data)

def asc(cols, rows, cell=1.0, nodata="-9999", extra=""):
    s = "ncols %d\nnrows %d\nxllcorner 3500000.5\nyllcorner 5800000\ncellsize %s\n" % (cols, rows, cell)
    if nodata:
        s += "NODATA_value %s\n" % nodata
    s += extra
    for r in range(rows):
        s += " ".join("%g" % ((r * cols + c) * 0.25 - 3 if (r + c) % 7 else -9999) for c in range(cols)) + "\n"
    return s.encode()

def tif(name, opts, cols=20, rows=18):
    src = os.path.join(tmp, "src.asc")
    open(src, "wb").write(asc(cols, rows))
    dst = os.path.join(tmp, name + ".tif")
    subprocess.run(["gdal_translate", "-q"] + opts + [src, dst], check=True)
    return open(dst, "rb").read()

plain = tif("plain", ["-ot", "Float32", "-co", "BLOCKYSIZE=3"])
put("tif_strips", plain)
tiled = tif("tiled", ["-ot", "Float32", "-co", "TILED=YES", "-co", "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16",
                      "-co", "COMPRESS=DEFLATE"])
put("tif_tiled_deflate", tiled)
put("tif_int16_scaled", tif("i16", ["-ot", "Int16", "-a_scale", "0.01", "-a_offset", "100", "-a_srs", "EPSG:25832"]))
put("tif_float64_southup", tif("f64", ["-ot", "Float64", "-a_ullr", "0", "0", "20", "18"]))
put("tif_bigtiff", tif("big", ["-ot", "Float32", "-co", "BIGTIFF=YES", "-co", "COMPRESS=LZW"]))
put("tif_motorola", tif("mm", ["-ot", "UInt16", "-co", "ENDIANNESS=BIG"]))
put("tif_point", tif("pt", ["-ot", "Float32", "-mo", "AREA_OR_POINT=Point", "-a_srs", "EPSG:25832+7837"]))
for frac in (9, 40, 120, 300, len(plain) - 5):
    put("tif_cut_%d" % frac, plain[:frac])
for frac in (len(tiled) // 2, len(tiled) - 20):
    put("tif_tiled_cut_%d" % frac, tiled[:frac])
bad = bytearray(tiled)
for i in range(len(bad) // 2, len(bad) // 2 + 24):
    bad[i] ^= 0x5A
put("tif_broken_deflate", bytes(bad))

# Absurd sizes: ImageWidth / ImageLength of the first directory patched (little-endian, plain).
def patch_tag(data, tag, value):
    b = bytearray(data)
    ifd = struct.unpack_from("<I", b, 4)[0]
    n = struct.unpack_from("<H", b, ifd)[0]
    for k in range(n):
        e = ifd + 2 + 12 * k
        t, typ = struct.unpack_from("<HH", b, e)
        if t == tag:
            if typ == 3:
                struct.pack_into("<HHIHH", b, e, t, 4, 1, 0, 0)  # as LONG
            struct.pack_into("<I", b, e + 8, value)
    return bytes(b)
put("tif_width_huge", patch_tag(plain, 256, 1000000000))
put("tif_both_huge", patch_tag(patch_tag(plain, 256, 1000000), 257, 1000000))
put("tif_tiled_huge", patch_tag(patch_tag(tiled, 256, 1000000), 257, 1000000))
put("tif_width_zero", patch_tag(plain, 256, 0))
put("tif_header_only", b"II*\0\x08\0\0\0")
put("tif_bigtiff_header_only", b"II+\0\x08\0\0\0\x10\0\0\0\0\0\0\0")

good = asc(9, 7)
put("asc_plain", good)
put("asc_int", b"ncols 3\nnrows 2\nxllcenter 0\nyllcenter 0\ncellsize 5\n1 2 3\n4 5 6\n")
put("asc_dxdy", b"NCOLS 3\nNROWS 2\nXLLCORNER -10\nYLLCORNER -20\nDX 0.5\nDY 2\n1 2 3\n4 5 6\n")
put("asc_cut_header", good[:30])
put("asc_cut_values", good[: len(good) * 2 // 3])
put("asc_huge_ncols", b"ncols 2000000000\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n")
put("asc_huge_both", b"ncols 1000000\nnrows 1000000\nxllcorner 0\nyllcorner 0\ncellsize 1\n1\n")
put("asc_negative_cell", b"ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize -1\n1 2\n3 4\n")
put("asc_zero_cell", b"ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 0\n1 2\n3 4\n")
put("asc_garbage_values", b"ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 x\n\x00 4e999\n")
put("asc_negative_rows", b"ncols 2\nnrows -2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n3 4\n")
put("asc_blanks_first", b"  ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n")
