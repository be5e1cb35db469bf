#!/usr/bin/env python3
"""Checks a winget multi-file manifest (one folder: the version, installer and locale
files) against Microsoft's published JSON schemas, and prints what it says of each
installer for the caller to compare with the MSIs:

  winget_check.py SCHEMA_DIR MANIFEST_FOLDER
  -> "installer ARCH SCOPE SHA256 PRODUCT_CODE ARP_PRODUCT_CODE ARP_UPGRADE_CODE URL" per
     installer (sorted; ARP_ the codes of its Apps and Features entry),
     "package IDENTIFIER VERSION", or "invalid: ..." lines and exit code 1.

SCHEMA_DIR holds one folder per manifest version (v1.10.0/manifest.installer.1.10.0.json,
...). Each file is validated against the schema of its ManifestType and ManifestVersion;
as winget's own validation does, a field no schema names is refused too, as are
different identifiers or versions across the files, a file name that is not
IDENTIFIER[.installer|.locale.LOCALE].yaml, a missing file of the three, and a
"$schema" comment that names another schema than the file's.
"""
import glob
import json
import os
import re
import sys

import jsonschema
import yaml

SCHEMA_NAMES = {'version': 'version', 'installer': 'installer', 'defaultLocale': 'defaultLocale',
                'locale': 'locale'}


def schema_for(schema_dir, kind, version):
    path = os.path.join(schema_dir, 'v' + version, 'manifest.%s.%s.json' % (SCHEMA_NAMES[kind], version))
    if not os.path.isfile(path):
        return None
    with open(path, encoding='utf-8') as f:
        return json.load(f)


def unknown_fields(schema, data, where):
    """Fields of DATA (and of its installers and their nested objects) that the schema
    does not name: the schemas allow any, winget does not."""
    found = []

    def walk(node_schema, node, path):
        node_schema = resolve(schema, node_schema)
        if isinstance(node, dict) and 'properties' in node_schema:
            for key, value in node.items():
                if key not in node_schema['properties']:
                    found.append('%s: unknown field %s%s' % (where, path, key))
                else:
                    walk(node_schema['properties'][key], value, '%s%s.' % (path, key))
        elif isinstance(node, list) and 'items' in node_schema:
            for i, item in enumerate(node):
                walk(node_schema['items'], item, '%s[%d].' % (path.rstrip('.'), i))

    walk(schema, data, '')
    return found


def resolve(root, node):
    while isinstance(node, dict) and '$ref' in node:
        target = root
        for part in node['$ref'].lstrip('#/').split('/'):
            target = target[part]
        node = target
    return node


def main():
    schema_dir, folder = sys.argv[1], sys.argv[2]
    problems = []
    files = {}
    for path in sorted(glob.glob(os.path.join(folder, '*.yaml'))):
        name = os.path.basename(path)
        with open(path, encoding='utf-8') as f:
            text = f.read()
        try:
            data = yaml.safe_load(text)
        except yaml.YAMLError as e:
            problems.append('%s: not YAML: %s' % (name, e))
            continue
        if not isinstance(data, dict):
            problems.append('%s: not a mapping' % name)
            continue
        kind = data.get('ManifestType')
        version = str(data.get('ManifestVersion'))
        if kind not in SCHEMA_NAMES:
            problems.append('%s: ManifestType %r' % (name, kind))
            continue
        schema = schema_for(schema_dir, kind, version)
        if schema is None:
            problems.append('%s: no published schema for %s %s here' % (name, kind, version))
            continue
        comment = re.match(r'# yaml-language-server: \$schema=(\S+)\n', text)
        wanted = 'https://aka.ms/winget-manifest.%s.%s.schema.json' % (SCHEMA_NAMES[kind], version)
        if not comment or comment.group(1).lower() != wanted.lower():
            problems.append('%s: its $schema comment is not %s' % (name, wanted))
        validator = jsonschema.Draft7Validator(schema)
        for error in sorted(validator.iter_errors(data), key=lambda e: list(e.absolute_path)):
            where = '.'.join(str(p) for p in error.absolute_path) or '(top)'
            problems.append('%s: %s: %s' % (name, where, error.message))
        problems.extend(unknown_fields(schema, data, name))
        if kind in files:
            problems.append('%s: a second %s manifest' % (name, kind))
        files[kind] = (name, data)

    for kind in ('version', 'installer', 'defaultLocale'):
        if kind not in files:
            problems.append('no %s manifest in %s' % (kind, folder))
    if not problems:
        identifier = files['version'][1]['PackageIdentifier']
        package_version = str(files['version'][1]['PackageVersion'])
        locale = files['version'][1]['DefaultLocale']
        expected_names = {'version': identifier + '.yaml', 'installer': identifier + '.installer.yaml',
                          'defaultLocale': '%s.locale.%s.yaml' % (identifier, locale)}
        for kind, (name, data) in files.items():
            if data['PackageIdentifier'] != identifier or str(data['PackageVersion']) != package_version:
                problems.append('%s: %s %s, the version manifest %s %s' % (
                    name, data['PackageIdentifier'], data['PackageVersion'], identifier, package_version))
            if kind in expected_names and name != expected_names[kind]:
                problems.append('%s: should be named %s' % (name, expected_names[kind]))
        if files['defaultLocale'][1]['PackageLocale'] != locale:
            problems.append('the default locale file is %s, the version manifest names %s' % (
                files['defaultLocale'][1]['PackageLocale'], locale))
    if problems:
        for p in problems:
            print('invalid: ' + p)
        return 1

    installer = files['installer'][1]
    lines = []
    for i in installer['Installers']:
        entries = i.get('AppsAndFeaturesEntries') or [{}]
        lines.append(' '.join(str(x) for x in (
            'installer', i['Architecture'], i.get('Scope', installer.get('Scope')), i['InstallerSha256'],
            i.get('ProductCode', installer.get('ProductCode')), entries[0].get('ProductCode'),
            entries[0].get('UpgradeCode'), i['InstallerUrl'])))
    print('package %s %s' % (identifier, package_version))
    print('\n'.join(sorted(lines)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
