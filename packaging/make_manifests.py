#!/usr/bin/python3
"""Writes the winget manifests and the Scoop manifest of a release from its SHA256SUMS.

    make_manifests.py DIST NAME VERSION PROJECT_URL

DIST holds the release zips and SHA256SUMS. Every zip named there must exist and hash to its
line, and both architectures must be there; otherwise nothing is written, any manifests left in
DIST by an earlier run are removed (they would describe other files), and the message names the
file. The files are made in a folder inside DIST and moved into place only when all are written:
DIST/winget/ (version, zh-CN default locale, en-US locale, installer) and DIST/quenvar.json.
The downloads are PROJECT_URL/releases/download/vVERSION/FILE; the output depends on nothing
else, so it is byte-reproducible.
"""
import hashlib
import json
import os
import re
import shutil
import sys
import tempfile
import zipfile

# The schema the Windows Package Manager community repository takes submissions in.
WINGET_SCHEMA = "1.12.0"
# PLACEHOLDER: the sources state no license yet; replace with the one the authors choose
# (an SPDX identifier), here and in packaging/copyright.
LICENSE = "Unknown"
ARCHES = (("x64", "64bit"), ("x86", "32bit"))
SCOOP_FILE = "quenvar.json"

TEXTS = {
    "zh-CN": {
        "short": "修复已失效的百度网盘分享链接：得到分享者的网盘主页链接",
        "long": "粘贴已失效的百度网盘分享链接，Quenvar 根据链接末尾的分享者用户编号生成分享者网盘主页"
        "的链接，并可复制到剪贴板。命令行程序 quenvar-cli 可一次修复许多链接，或用 --scan 从"
        "保存的网页、帖子、聊天记录中找出所有分享者。程序不联网，不写入任何文件。",
        "tags": ["百度网盘", "分享链接", "链接修复"],
    },
    "en-US": {
        "short": "Repair expired Baidu Netdisk share links: get the sharer's home page link",
        "long": "Paste an expired Baidu Netdisk share link and Quenvar gives the link of the sharer's "
        "home page, built from the sharer's user key at the end of the link, ready to copy. The "
        "command-line program quenvar-cli repairs many links at once, or with --scan finds every "
        "sharer named in a saved page, thread or chat export. Nothing goes on the network and "
        "nothing is written to disk.",
        "tags": ["baidu-netdisk", "share-link", "link-repair"],
    },
}


class ReleaseError(Exception):
    pass


def read_sums(dist):
    path = os.path.join(dist, "SHA256SUMS")
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise ReleaseError(f"{path}: cannot be read ({e.strerror})")
    sums = {}
    for number, line in enumerate(lines, 1):
        m = re.fullmatch(r"([0-9a-f]{64}) [ *](.+)", line)
        if not m:
            raise ReleaseError(f"{path}: line {number} is not a SHA-256 line: {line!r}")
        sums[m.group(2)] = m.group(1)
    return sums


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def checked_zips(dist, name, version):
    sums = read_sums(dist)
    zips = {}
    for arch, _ in ARCHES:
        zip_name = f"{name}-{version}-{arch}.zip"
        if zip_name not in sums:
            raise ReleaseError(f"{os.path.join(dist, 'SHA256SUMS')}: no line for {zip_name}")
        path = os.path.join(dist, zip_name)
        if not os.path.isfile(path):
            raise ReleaseError(f"{path}: missing")
        if file_sha256(path) != sums[zip_name]:
            raise ReleaseError(f"{path}: its SHA-256 differs from its line in SHA256SUMS")
        folder = f"{name}-{version}-{arch}"
        with zipfile.ZipFile(path) as archive:
            held = set(archive.namelist())
        for program in (f"{name}.exe", "quenvar-cli.exe"):
            if f"{folder}/{program}" not in held:
                raise ReleaseError(f"{path}: holds no {folder}/{program}")
        zips[arch] = (zip_name, sums[zip_name])
    return zips


PLAIN = re.compile(r"[A-Za-z][A-Za-z0-9._/\\:+-]*")
YAML_WORDS = {"y", "n", "yes", "no", "on", "off", "true", "false", "null"}


def yaml_string(text):
    # Plain only where every YAML reader sees a string: a word or a link. Anything else, a version
    # such as 1.00 above all, is single-quoted so that it stays a string.
    if PLAIN.fullmatch(text) and not text.endswith(":") and text.lower() not in YAML_WORDS:
        return text
    return "'" + text.replace("'", "''") + "'"


def yaml_lines(mapping, indent=0):
    pad = " " * indent
    lines = []
    for key, value in mapping.items():
        if not isinstance(value, list):
            lines.append(f"{pad}{key}: {yaml_string(value)}")
            continue
        lines.append(f"{pad}{key}:")
        for item in value:
            if isinstance(item, dict):
                item_lines = yaml_lines(item, indent + 2)
                item_lines[0] = f"{pad}- " + item_lines[0][indent + 2:]
                lines += item_lines
            else:
                lines.append(f"{pad}- {yaml_string(item)}")
    return lines


def yaml_document(kind, fields):
    header = (f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}."
              f"{WINGET_SCHEMA}.schema.json")
    lines = [header, ""] + yaml_lines(fields)
    lines += [f"ManifestType: {kind}", f"ManifestVersion: {WINGET_SCHEMA}", ""]
    return "\n".join(lines)


def download(project_url, version, file_name):
    return f"{project_url}/releases/download/v{version}/{file_name}"


def winget_files(name, version, project_url, zips):
    identifier = f"{name}.{name}"
    head = {"PackageIdentifier": identifier, "PackageVersion": version}
    files = {f"{identifier}.yaml": yaml_document(
        "version", {**head, "DefaultLocale": "zh-CN"})}
    for locale, kind in (("zh-CN", "defaultLocale"), ("en-US", "locale")):
        text = TEXTS[locale]
        files[f"{identifier}.locale.{locale}.yaml"] = yaml_document(kind, {
            **head, "PackageLocale": locale, "Publisher": name, "PackageName": name,
            "PackageUrl": project_url, "License": LICENSE, "ShortDescription": text["short"],
            "Description": text["long"], "Tags": text["tags"]})
    installers = []
    for arch, _ in ARCHES:
        zip_name, sha = zips[arch]
        folder = f"{name}-{version}-{arch}"
        installers.append({
            "Architecture": arch,
            "InstallerUrl": download(project_url, version, zip_name),
            "InstallerSha256": sha.upper(),
            "NestedInstallerFiles": [
                {"RelativeFilePath": f"{folder}\\quenvar-cli.exe",
                 "PortableCommandAlias": "quenvar-cli"},
                {"RelativeFilePath": f"{folder}\\{name}.exe"},
            ],
        })
    files[f"{identifier}.installer.yaml"] = yaml_document("installer", {
        **head, "InstallerType": "zip", "NestedInstallerType": "portable",
        "Installers": installers})
    return files


def scoop_manifest(name, version, project_url, zips):
    architecture = {}
    autoupdate = {}
    for arch, scoop_arch in ARCHES:
        zip_name, sha = zips[arch]
        architecture[scoop_arch] = {
            "url": download(project_url, version, zip_name),
            "hash": sha,
            "extract_dir": f"{name}-{version}-{arch}",
        }
        autoupdate[scoop_arch] = {
            "url": download(project_url, "$version", f"{name}-$version-{arch}.zip"),
            "extract_dir": f"{name}-$version-{arch}",
        }
    if re.fullmatch(r"https://github\.com/[^/]+/[^/]+", project_url):
        checkver = {"github": project_url}
    else:
        checkver = {"url": project_url, "regex": rf"{re.escape(name)}-([\d.]+)-x64\.zip"}
    manifest = {
        "version": version,
        "description": TEXTS["en-US"]["short"],
        "homepage": project_url,
        "license": LICENSE,
        "architecture": architecture,
        "bin": "quenvar-cli.exe",
        "shortcuts": [[f"{name}.exe", name]],
        "checkver": checkver,
        "autoupdate": {
            "architecture": autoupdate,
            # Each release's SHA256SUMS, next to its zips, has a line per zip.
            "hash": {"url": "$baseurl/SHA256SUMS"},
        },
    }
    return json.dumps(manifest, indent=4, ensure_ascii=False) + "\n"


def remove_manifests(dist):
    shutil.rmtree(os.path.join(dist, "winget"), ignore_errors=True)
    try:
        os.remove(os.path.join(dist, SCOOP_FILE))
    except FileNotFoundError:
        pass


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    dist, name, version, project_url = argv[1:]
    project_url = project_url.rstrip("/")
    try:
        zips = checked_zips(dist, name, version)
    except ReleaseError as e:
        remove_manifests(dist)
        print(f"make_manifests.py: {e}; no manifests written", file=sys.stderr)
        return 1
    stage = tempfile.mkdtemp(prefix=".manifests-", dir=dist)
    try:
        os.mkdir(os.path.join(stage, "winget"), 0o755)
        for file_name, text in winget_files(name, version, project_url, zips).items():
            with open(os.path.join(stage, "winget", file_name), "w", encoding="utf-8",
                      newline="\n") as f:
                f.write(text)
        with open(os.path.join(stage, SCOOP_FILE), "w", encoding="utf-8", newline="\n") as f:
            f.write(scoop_manifest(name, version, project_url, zips))
        remove_manifests(dist)
        os.rename(os.path.join(stage, "winget"), os.path.join(dist, "winget"))
        os.rename(os.path.join(stage, SCOOP_FILE), os.path.join(dist, SCOOP_FILE))
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    print(f"make_manifests.py: winget/ and {SCOOP_FILE} for {name} {version}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
