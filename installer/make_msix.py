#!/usr/bin/env python3
"""Writes Orvane's sparse package (unsigned): the manifest filled from its template, the
images it names drawn from Orvane's own icon (resources/orvane.ico, its largest image
scaled down with ImageMagick's convert), AppxBlockMap.xml and [Content_Types].xml,
zipped as Windows' own packaging writes an MSIX.

  make_msix.py TEMPLATE OUTPUT --icon ICO --publisher P --version V --arch A --clsid GUID

The zip has the shape of Microsoft's packaging writer: every local header is followed by
the file's data and a ZIP64 data descriptor (the local header's CRC and sizes are zero),
the central directory names its sizes and offsets in ZIP64 extra fields, and a ZIP64 end
record and locator come before the classic end record. Images are stored (PNG data does
not shrink); the XML parts are deflated one 64 KiB block at a time with a full flush
after each, so that the block map can give each block's compressed size, as Windows
checks it. Only the standard library is used.
"""
import argparse
import base64
import hashlib
import os
import struct
import subprocess
import tempfile
import zlib
from xml.sax.saxutils import escape, quoteattr

BLOCK = 65536
# Fixed DOS date and time (1980-01-01 00:00): the same inputs give the same package.
DOS_TIME, DOS_DATE = 0, (1 << 5) | 1
DATA_DESCRIPTOR_FLAG = 0x0008
ZIP64_VERSION = 45
STORED, DEFLATED = 0, 8

IMAGES = (
    ('Assets/Square150x150Logo.png', 150),
    ('Assets/Square44x44Logo.png', 44),
    ('Assets/StoreLogo.png', 50),
)


def largest_icon_image(path):
    """The index of the largest image in an .ico file (a width byte of 0 means 256)."""
    with open(path, 'rb') as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from('<HHH', data)
    if reserved != 0 or kind != 1 or count == 0:
        raise SystemExit('make_msix.py: %s is not an icon file' % path)
    widths = [data[6 + 16 * i] or 256 for i in range(count)]
    return widths.index(max(widths))


def draw_images(icon):
    frame = '%s[%d]' % (icon, largest_icon_image(icon))
    images = []
    with tempfile.TemporaryDirectory() as work:
        for name, size in IMAGES:
            png = os.path.join(work, 'image.png')
            # Without its date chunks the same icon gives the same bytes every time.
            subprocess.run(['convert', frame, '-filter', 'Lanczos', '-resize', '%dx%d' % (size, size),
                            '-strip', '-define', 'png:exclude-chunks=date,time', 'PNG32:' + png],
                           check=True)
            with open(png, 'rb') as f:
                images.append((name, f.read()))
    return images


def deflate_by_block(data):
    """The raw deflate stream of data and the compressed size of each 64 KiB block."""
    comp = zlib.compressobj(9, zlib.DEFLATED, -15)
    blocks = [data[i:i + BLOCK] for i in range(0, len(data), BLOCK)]
    out, sizes = bytearray(), []
    for i, block in enumerate(blocks):
        chunk = comp.compress(block)
        chunk += comp.flush(zlib.Z_FINISH if i == len(blocks) - 1 else zlib.Z_FULL_FLUSH)
        sizes.append(len(chunk))
        out += chunk
    return bytes(out), sizes


class Part:
    def __init__(self, name, data, compress):
        self.name = name
        self.data = data
        self.compress = compress and len(data) > 0
        if self.compress:
            self.stored, self.block_sizes = deflate_by_block(data)
        else:
            self.stored, self.block_sizes = data, None
        self.crc = zlib.crc32(data) & 0xFFFFFFFF
        self.offset = 0

    def local_header(self):
        name = self.name.encode('utf-8')
        return struct.pack('<IHHHHHIIIHH', 0x04034B50, ZIP64_VERSION, DATA_DESCRIPTOR_FLAG,
                           DEFLATED if self.compress else STORED, DOS_TIME, DOS_DATE,
                           0, 0, 0, len(name), 0) + name

    def data_descriptor(self):
        return struct.pack('<IIQQ', 0x08074B50, self.crc, len(self.stored), len(self.data))

    def central_header(self):
        name = self.name.encode('utf-8')
        extra = struct.pack('<HHQQQ', 0x0001, 24, len(self.data), len(self.stored), self.offset)
        return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, ZIP64_VERSION, ZIP64_VERSION,
                           DATA_DESCRIPTOR_FLAG, DEFLATED if self.compress else STORED,
                           DOS_TIME, DOS_DATE, self.crc, 0xFFFFFFFF, 0xFFFFFFFF,
                           len(name), len(extra), 0, 0, 0, 0, 0xFFFFFFFF) + name + extra


def block_map(parts):
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             '<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap" '
             'HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for part in parts:
        lines.append('<File Name=%s Size="%d" LfhSize="%d">' % (
            quoteattr(part.name.replace('/', '\\')), len(part.data), len(part.local_header())))
        for i in range(0, len(part.data), BLOCK):
            digest = base64.b64encode(hashlib.sha256(part.data[i:i + BLOCK]).digest()).decode('ascii')
            if part.compress:
                lines.append('<Block Hash="%s" Size="%d"/>' % (digest, part.block_sizes[i // BLOCK]))
            else:
                lines.append('<Block Hash="%s"/>' % digest)
        lines.append('</File>')
    lines.append('</BlockMap>')
    return ('\r\n'.join(lines) + '\r\n').encode('utf-8')


def content_types():
    items = ['<Default Extension="png" ContentType="image/png"/>']
    items.append('<Override PartName="/AppxManifest.xml" ContentType="application/vnd.ms-appx.manifest+xml"/>')
    items.append('<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>')
    return ('<?xml version="1.0" encoding="UTF-8"?>\r\n'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            + ''.join(items) + '</Types>\r\n').encode('utf-8')


def fill_manifest(template, args):
    text = template
    for key, value in (('@PUBLISHER@', args.publisher), ('@VERSION@', args.version),
                       ('@ARCH@', args.arch), ('@EXPLORER_COMMAND_CLSID@', args.clsid)):
        if key not in text:
            raise SystemExit('make_msix.py: the template has no %s' % key)
        text = text.replace(key, escape(value, {'"': '&quot;'}))
    return text.encode('utf-8')


def write_zip(path, parts):
    out = bytearray()
    for part in parts:
        part.offset = len(out)
        out += part.local_header() + part.stored + part.data_descriptor()
    cd_offset = len(out)
    for part in parts:
        out += part.central_header()
    cd_size = len(out) - cd_offset
    zip64_end = len(out)
    out += struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, ZIP64_VERSION, ZIP64_VERSION, 0, 0,
                       len(parts), len(parts), cd_size, cd_offset)
    out += struct.pack('<IIQI', 0x07064B50, 0, zip64_end, 1)
    out += struct.pack('<IHHHHIIH', 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                       0xFFFFFFFF, 0xFFFFFFFF, 0)
    with open(path + '.tmp', 'wb') as f:
        f.write(out)
    os.replace(path + '.tmp', path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('template')
    parser.add_argument('output')
    for option in ('--icon', '--publisher', '--version', '--arch', '--clsid'):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with open(args.template, encoding='utf-8') as f:
        manifest = fill_manifest(f.read(), args)
    payload = [Part(name, data, compress=False) for name, data in draw_images(args.icon)]
    payload.append(Part('AppxManifest.xml', manifest, compress=True))
    parts = payload + [Part('AppxBlockMap.xml', block_map(payload), compress=True)]
    parts.append(Part('[Content_Types].xml', content_types(), compress=True))
    write_zip(args.output, parts)


if __name__ == '__main__':
    main()
