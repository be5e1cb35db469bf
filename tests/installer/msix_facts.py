#!/usr/bin/env python3
"""Reads an MSIX package on its own (zip structures, block map, content types, manifest)
and prints what test_package.sh compares, one "key: value" line each:

  msix_facts.py PACKAGE.msix

Everything is recomputed from the bytes: each block's SHA-256 against the block map, the
local header's real size against LfhSize, the stored or deflated data against the Size
attributes (a deflated block must inflate on its own to its 64 KiB of the file), and the
content types against every part in the zip.
"""
import base64
import hashlib
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile
import zlib

BLOCK = 65536
BM = '{http://schemas.microsoft.com/appx/2010/blockmap}'
CT = '{http://schemas.openxmlformats.org/package/2006/content-types}'
F = '{http://schemas.microsoft.com/appx/manifest/foundation/windows10}'
NS = {
    'f': 'http://schemas.microsoft.com/appx/manifest/foundation/windows10',
    'uap': 'http://schemas.microsoft.com/appx/manifest/uap/windows10',
    'uap10': 'http://schemas.microsoft.com/appx/manifest/uap/windows10/10',
    'desktop4': 'http://schemas.microsoft.com/appx/manifest/desktop/windows10/4',
    'desktop5': 'http://schemas.microsoft.com/appx/manifest/desktop/windows10/5',
    'desktop10': 'http://schemas.microsoft.com/appx/manifest/desktop/windows10/10',
    'com': 'http://schemas.microsoft.com/appx/manifest/com/windows10',
    'rescap': 'http://schemas.microsoft.com/appx/manifest/foundation/windows10/restrictedcapabilities',
}


def out(key, value):
    print('%s: %s' % (key, value))


def stored_bytes(raw, info):
    """A part's data as stored and its local header's size, read from the bytes rather
    than through zipfile, whose CRC check would hide which block differs."""
    name_len, extra_len = struct.unpack('<HH', raw[info.header_offset + 26:info.header_offset + 30])
    start = info.header_offset + 30 + name_len + extra_len
    return raw[start:start + info.compress_size], 30 + name_len + extra_len


def part_bytes(raw, info):
    stored, _ = stored_bytes(raw, info)
    return stored if info.compress_type == zipfile.ZIP_STORED else zlib.decompressobj(-15).decompress(stored)


def main(path):
    raw = open(path, 'rb').read()
    z = zipfile.ZipFile(path)
    infos = {i.filename: i for i in z.infolist()}
    out('parts', ' '.join(infos))
    out('zip64 end record', 'yes' if raw[-42:-38] == b'PK\x06\x07' else 'no')

    bm = ET.fromstring(z.read('AppxBlockMap.xml'))
    out('hash method', bm.get('HashMethod'))
    problems = []
    mapped = []
    for f in bm.findall(BM + 'File'):
        name = f.get('Name').replace('\\', '/')
        mapped.append(name)
        info = infos.get(name)
        if info is None:
            problems.append('%s: not in the zip' % name)
            continue
        stored, lfh_size = stored_bytes(raw, info)
        data = part_bytes(raw, info)
        if int(f.get('Size')) != len(data):
            problems.append('%s: Size %s, file %d' % (name, f.get('Size'), len(data)))
        if int(f.get('LfhSize')) != lfh_size:
            problems.append('%s: LfhSize %s, local header %d' % (name, f.get('LfhSize'), lfh_size))
        blocks = f.findall(BM + 'Block')
        expected = [data[i:i + BLOCK] for i in range(0, len(data), BLOCK)]
        if len(blocks) != len(expected):
            problems.append('%s: %d blocks, file has %d' % (name, len(blocks), len(expected)))
        at = 0
        for i, (block, chunk) in enumerate(zip(blocks, expected)):
            digest = base64.b64encode(hashlib.sha256(chunk).digest()).decode('ascii')
            if block.get('Hash') != digest:
                problems.append('%s: block %d hash %s, data %s' % (name, i, block.get('Hash'), digest))
            size = block.get('Size')
            if info.compress_type == zipfile.ZIP_DEFLATED:
                if size is None:
                    problems.append('%s: deflated block %d without Size' % (name, i))
                    continue
                piece = stored[at:at + int(size)]
                at += int(size)
                try:
                    alone = zlib.decompressobj(-15).decompress(piece)
                except zlib.error as e:
                    alone = b'(%s)' % str(e).encode()
                if alone != chunk:
                    problems.append('%s: deflated block %d does not inflate alone to its data' % (name, i))
            elif size is not None:
                problems.append('%s: stored block %d with Size %s' % (name, i, size))
        if info.compress_type == zipfile.ZIP_DEFLATED and at != info.compress_size:
            problems.append('%s: block sizes add to %d, compressed data %d' % (name, at, info.compress_size))
    out('block map problems', '; '.join(problems) or 'none')
    footprint = {'AppxBlockMap.xml', '[Content_Types].xml', 'AppxSignature.p7x'}
    out('files outside the block map', ' '.join(sorted(set(infos) - footprint - set(mapped))) or 'none')

    ct = ET.fromstring(z.read('[Content_Types].xml'))
    defaults = {d.get('Extension').lower() for d in ct.findall(CT + 'Default')}
    overrides = {o.get('PartName').lower() for o in ct.findall(CT + 'Override')}
    untyped = [n for n in infos if n != '[Content_Types].xml'
               and ('/' + n).lower() not in overrides
               and n.rsplit('.', 1)[-1].lower() not in defaults]
    out('parts without a content type', ' '.join(untyped) or 'none')
    out('content type overrides', ' '.join(sorted(
        '%s=%s' % (o.get('PartName'), o.get('ContentType')) for o in ct.findall(CT + 'Override'))))

    m = ET.fromstring(z.read('AppxManifest.xml'))
    ident = m.find('f:Identity', NS)
    for key in ('Name', 'Publisher', 'Version', 'ProcessorArchitecture'):
        out('identity ' + key, ident.get(key))
    app = m.find('f:Applications/f:Application', NS)
    out('applications', len(m.findall('f:Applications/f:Application', NS)))
    out('executable', app.get('Executable'))
    out('trust level', app.get('{%s}TrustLevel' % NS['uap10']))
    out('runtime behavior', app.get('{%s}RuntimeBehavior' % NS['uap10']))
    out('app list entry', app.find('uap:VisualElements', NS).get('AppListEntry'))
    out('external content', m.findtext('f:Properties/uap10:AllowExternalContent', namespaces=NS))
    out('capabilities', ' '.join(c.get('Name') for c in m.findall('f:Capabilities/rescap:Capability', NS)))
    family = m.find('f:Dependencies/f:TargetDeviceFamily', NS)
    out('device family', '%s %s' % (family.get('Name'), family.get('MinVersion')))
    menus = app.findall('f:Extensions/desktop4:Extension', NS)
    out('menu extensions', ' '.join(e.get('Category') for e in menus))
    verbs = []
    for prefix in ('desktop5', 'desktop10'):
        for item in app.iterfind('.//desktop4:FileExplorerContextMenus/%s:ItemType' % prefix, NS):
            for verb in item.findall('%s:Verb' % prefix, NS):
                verbs.append('%s:%s=%s:%s' % (prefix, item.get('Type'), verb.get('Id'), verb.get('Clsid')))
    out('verbs', ' '.join(verbs))
    classes = app.findall('.//com:Extension/com:ComServer/com:SurrogateServer/com:Class', NS)
    out('com classes', ' '.join('%s:%s:%s' % (c.get('Id'), c.get('Path'), c.get('ThreadingModel')) for c in classes))
    images = [m.findtext('f:Properties/f:Logo', namespaces=NS)]
    visual = app.find('uap:VisualElements', NS)
    images += [visual.get('Square150x150Logo'), visual.get('Square44x44Logo')]
    out('images', ' '.join(images))
    out('missing images', ' '.join(i for i in images if i.replace('\\', '/') not in infos) or 'none')
    sizes = []
    for i in images:
        data = part_bytes(raw, infos[i.replace('\\', '/')])
        if data[:8] == b'\x89PNG\r\n\x1a\n':
            sizes.append('%dx%d' % struct.unpack('>II', data[16:24]))
        else:
            sizes.append('not-png')
    out('image sizes', ' '.join(sizes))


if __name__ == '__main__':
    main(sys.argv[1])
