#!/usr/bin/env python3
"""xshot.py X Y WIDTH HEIGHT OUT.png: that part of the X display ($DISPLAY),
as far as it lies on the screen, as a PNG, read with XGetImage through libX11 (a 24-bit TrueColor screen)."""
import ctypes
import ctypes.util
import struct
import sys
import zlib


class XImage(ctypes.Structure):
    _fields_ = [('width', ctypes.c_int), ('height', ctypes.c_int), ('xoffset', ctypes.c_int),
                ('format', ctypes.c_int), ('data', ctypes.POINTER(ctypes.c_ubyte)),
                ('byte_order', ctypes.c_int), ('bitmap_unit', ctypes.c_int),
                ('bitmap_bit_order', ctypes.c_int), ('bitmap_pad', ctypes.c_int),
                ('depth', ctypes.c_int), ('bytes_per_line', ctypes.c_int),
                ('bits_per_pixel', ctypes.c_int)]


def grab(x, y, width, height):
    x11 = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit('cannot open the display')
    # Only what lies on the screen.
    x11.XDisplayWidth.argtypes = x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    width = min(width, x11.XDisplayWidth(display, 0) - x)
    height = min(height, x11.XDisplayHeight(display, 0) - y)
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, width, height,
                          0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
    if not image or image.contents.bits_per_pixel != 32:
        sys.exit('cannot read the screen as 32-bit pixels')
    img = image.contents
    raw = ctypes.string_at(img.data, img.bytes_per_line * height)
    rows = []
    for row in range(height):
        line = raw[row * img.bytes_per_line: row * img.bytes_per_line + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[2::4]
        rgb[1::3] = line[1::4]
        rgb[2::3] = line[0::4]
        rows.append(b'\0' + bytes(rgb))
    return width, height, b''.join(rows)


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n')
        out.write(chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b'IDAT', zlib.compress(rows, 9)))
        out.write(chunk(b'IEND', b''))


if __name__ == '__main__':
    x, y, w, h = (int(v) for v in sys.argv[1:5])
    write_png(sys.argv[5], *grab(x, y, w, h))
