#!/usr/bin/env python3
"""Writes the Windows Package Manager (winget) manifest of one Orvane release from its
built MSIs, as the three files of a multi-file manifest (version, installer, default
locale) in the community repository's layout:

  winget_manifest.py --release-url URL --out DIR MSI...
  -> DIR/manifests/b/BrindlewickSoftware/Orvane/VERSION/BrindlewickSoftware.Orvane.yaml,
     ...installer.yaml and ...locale.en-US.yaml; the folder is printed.

Every installer's facts are the MSI's own, read with msiinfo: the architecture (the
summary's Template), the scope (ALLUSERS: 1 for all users, absent for one), the product
and upgrade codes, name, publisher and version (Property table), and the SHA-256 of the
file. URL is the https address of the folder where the maintainer publishes the release's
MSIs; each installer's address is URL/<the MSI's file name>. The texts are
installer/winget-locale.yaml, the release notes the version's section of
docs/release-notes.md. All MSIs must be of one version, and no two of one architecture
and scope.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys

import yaml

MANIFEST_VERSION = '1.10.0'
PACKAGE_IDENTIFIER = 'BrindlewickSoftware.Orvane'
LOCALE = 'en-US'
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
ARCHITECTURES = {'x64': 'x64', 'Intel': 'x86', 'Arm64': 'arm64'}


class Refused(Exception):
    pass


class ManifestDumper(yaml.SafeDumper):
    """Texts of several lines (release notes) as literal blocks, each line as written."""


def represent_text(dumper, text):
    style = '|' if '\n' in text else None
    return dumper.represent_scalar('tag:yaml.org,2002:str', text, style=style)


ManifestDumper.add_representer(str, represent_text)


def msiinfo(*args):
    result = subprocess.run(['msiinfo', *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise Refused('msiinfo %s failed: %s' % (' '.join(args), result.stderr.strip()))
    return result.stdout.replace('\r', '')


def msi_facts(path):
    """What winget needs of one MSI, read from the package itself."""
    properties = {}
    for line in msiinfo('export', path, 'Property').split('\n')[3:]:
        name, _, value = line.partition('\t')
        if name:
            properties[name] = value
    template = ''
    for line in msiinfo('suminfo', path).split('\n'):
        if line.startswith('Template: '):
            template = line[len('Template: '):]
    platform = template.split(';')[0]
    if platform not in ARCHITECTURES:
        raise Refused('%s: summary Template %r names no known architecture' % (path, template))
    for name in ('ProductCode', 'UpgradeCode', 'ProductName', 'Manufacturer', 'ProductVersion'):
        if not properties.get(name):
            raise Refused('%s: the Property table has no %s' % (path, name))
    allusers = properties.get('ALLUSERS', '')
    if allusers not in ('', '1'):
        raise Refused('%s: ALLUSERS is %r; only 1 (all users) or none (this user) is written here' % (path, allusers))
    with open(path, 'rb') as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    return {
        'file': os.path.basename(path),
        'architecture': ARCHITECTURES[platform],
        'scope': 'machine' if allusers == '1' else 'user',
        'sha256': sha256,
        **{name: properties[name] for name in ('ProductCode', 'UpgradeCode', 'ProductName', 'Manufacturer', 'ProductVersion')},
    }


def release_notes(version):
    """The text below "## VERSION" in docs/release-notes.md, up to the next heading."""
    path = os.path.join(ROOT, 'docs', 'release-notes.md')
    with open(path, encoding='utf-8') as f:
        text = f.read()
    match = re.search(r'^## %s[ \t]*\n(.*?)(?=^## |\Z)' % re.escape(version), text, re.M | re.S)
    if not match or not match.group(1).strip():
        raise Refused('docs/release-notes.md has no notes for version %s ("## %s")' % (version, version))
    return match.group(1).strip()


def write_manifest(path, kind, schema_name, fields):
    body = dict(fields)
    body['ManifestType'] = kind
    body['ManifestVersion'] = MANIFEST_VERSION
    with open(path, 'w', encoding='utf-8', newline='\n') as f:
        f.write('# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n\n'
                % (schema_name, MANIFEST_VERSION))
        yaml.dump(body, f, Dumper=ManifestDumper, sort_keys=False, allow_unicode=True, width=10000,
                  default_flow_style=False)


def build(release_url, out, msis):
    if not re.match(r'^https://[^/\s]+(/\S*)?$', release_url):
        raise Refused('the release URL must be an https address without spaces, not %r' % release_url)
    release_url = release_url.rstrip('/')
    if not msis:
        raise Refused('no MSI given')
    installers = [msi_facts(m) for m in msis]
    versions = sorted({i['ProductVersion'] for i in installers})
    if len(versions) != 1:
        raise Refused('the MSIs are of different versions: %s' % ', '.join(versions))
    version = versions[0]
    seen = {}
    for i in installers:
        key = (i['architecture'], i['scope'])
        if key in seen:
            raise Refused('%s and %s are both %s, scope %s' % (seen[key], i['file'], *key))
        seen[key] = i['file']
    publishers = sorted({i['Manufacturer'] for i in installers})
    if len(publishers) != 1:
        raise Refused('the MSIs name different publishers: %s' % ', '.join(publishers))
    with open(os.path.join(HERE, 'winget-locale.yaml'), encoding='utf-8') as f:
        texts = yaml.safe_load(f)
    notes = release_notes(version)

    folder = os.path.join(out, 'manifests', PACKAGE_IDENTIFIER[0].lower(), *PACKAGE_IDENTIFIER.split('.'), version)
    os.makedirs(folder, exist_ok=True)
    head = {'PackageIdentifier': PACKAGE_IDENTIFIER, 'PackageVersion': version}
    write_manifest(os.path.join(folder, PACKAGE_IDENTIFIER + '.yaml'), 'version', 'version',
                   {**head, 'DefaultLocale': LOCALE})
    order = sorted(installers, key=lambda i: (i['architecture'], i['scope'] != 'machine'))
    write_manifest(os.path.join(folder, PACKAGE_IDENTIFIER + '.installer.yaml'), 'installer', 'installer', {
        **head,
        'Platform': ['Windows.Desktop'],
        'InstallerType': 'msi',
        'InstallModes': ['interactive', 'silent', 'silentWithProgress'],
        'InstallerSwitches': {'Silent': '/quiet /norestart', 'SilentWithProgress': '/passive /norestart'},
        # Each package's major upgrade replaces the older version it finds installed.
        'UpgradeBehavior': 'install',
        'Installers': [{
            'Architecture': i['architecture'],
            'Scope': i['scope'],
            'InstallerUrl': '%s/%s' % (release_url, i['file']),
            'InstallerSha256': i['sha256'],
            'ProductCode': i['ProductCode'],
            'AppsAndFeaturesEntries': [{
                'DisplayName': i['ProductName'],
                'Publisher': i['Manufacturer'],
                'ProductCode': i['ProductCode'],
                'UpgradeCode': i['UpgradeCode'],
            }],
        } for i in order],
    })
    write_manifest(os.path.join(folder, '%s.locale.%s.yaml' % (PACKAGE_IDENTIFIER, LOCALE)), 'defaultLocale',
                   'defaultLocale', {
                       **head,
                       'PackageLocale': LOCALE,
                       'Publisher': publishers[0],
                       **texts,
                       'ReleaseNotes': notes,
                   })
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--release-url', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('msis', nargs='*')
    args = parser.parse_args()
    try:
        print(build(args.release_url, args.out, args.msis))
    except (Refused, OSError) as e:
        print('winget_manifest.py: %s' % e, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
