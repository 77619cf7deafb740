#!/usr/bin/python3
"""Checks the winget and Scoop manifests of a release folder against what the folder holds.

    check_manifests.py DIST NAME VERSION

Each manifest is parsed as a user's tool would (YAML, JSON). Checked: the fields the published
schemas require (winget 1.12.0: version, defaultLocale, locale, installer; Scoop's schema.json);
that versions stay strings; that both architectures are there, each with the hash SHA256SUMS
gives for its zip and a download named after that zip; that the files the manifests point into
are in the zips; and that Scoop's update rules, with this version put in, give this release back
and find each zip's hash in SHA256SUMS the way Scoop searches it. Prints every problem; exits 1
if there was one.
"""
import glob
import json
import os
import re
import sys
import zipfile

import yaml

problems = []


def problem(text):
    problems.append(text)
    print(f"FAIL {text}")


def require(where, mapping, fields):
    for field in fields:
        if mapping.get(field) in (None, "", []):
            problem(f"{where}: no {field}")


def is_text(where, field, value):
    if not isinstance(value, str):
        problem(f"{where}: {field} is read as {type(value).__name__} {value!r}, not text")
        return False
    return True


def read_sums(dist):
    sums = {}
    with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as f:
        text = f.read()
    for line in text.splitlines():
        digest, path = line.split(maxsplit=1)
        sums[path.lstrip("*")] = digest
    return sums, text


def zip_members(dist, zip_name):
    with zipfile.ZipFile(os.path.join(dist, zip_name)) as archive:
        return set(archive.namelist())


# Fields each manifest type must have (the winget 1.12.0 JSON schemas' "required").
WINGET_REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType",
                "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType",
                      "ManifestVersion"],
    "locale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "ManifestType",
               "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType",
                  "ManifestVersion"],
}


def check_winget(dist, name, version, sums):
    folder = os.path.join(dist, "winget")
    identifier = f"{name}.{name}"
    expected = {
        f"{identifier}.yaml": "version",
        f"{identifier}.locale.zh-CN.yaml": "defaultLocale",
        f"{identifier}.locale.en-US.yaml": "locale",
        f"{identifier}.installer.yaml": "installer",
    }
    present = sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, "*")))
    if present != sorted(expected):
        problem(f"winget/ holds {present}, not {sorted(expected)}")
    manifests = {}
    for file_name, kind in expected.items():
        path = os.path.join(folder, file_name)
        if not os.path.isfile(path):
            continue
        with open(path, encoding="utf-8") as f:
            text = f.read()
        doc = yaml.safe_load(text)
        where = f"winget/{file_name}"
        manifests[kind] = doc
        require(where, doc, WINGET_REQUIRED[kind])
        for field in ("PackageIdentifier", "PackageVersion", "ManifestVersion"):
            is_text(where, field, doc.get(field))
        if doc.get("ManifestType") != kind:
            problem(f"{where}: ManifestType {doc.get('ManifestType')!r}, not {kind}")
        if doc.get("PackageIdentifier") != identifier or doc.get("PackageVersion") != version:
            problem(f"{where}: package {doc.get('PackageIdentifier')} {doc.get('PackageVersion')!r},"
                    f" not {identifier} {version!r}")
        schema = f"https://aka.ms/winget-manifest.{kind}.{doc.get('ManifestVersion')}.schema.json"
        if not text.startswith(f"# yaml-language-server: $schema={schema}\n"):
            problem(f"{where}: the first line does not name {schema}")
    if "version" in manifests and manifests["version"].get("DefaultLocale") != "zh-CN":
        problem("winget: the default locale is not zh-CN")
    for kind, locale in (("defaultLocale", "zh-CN"), ("locale", "en-US")):
        if kind in manifests and manifests[kind].get("PackageLocale") != locale:
            problem(f"winget: the {kind} manifest is for {manifests[kind].get('PackageLocale')}")
    versions = {doc.get("ManifestVersion") for doc in manifests.values()}
    if len(versions) != 1:
        problem(f"winget: the manifests name different schema versions {versions}")

    installer = manifests.get("installer", {})
    installers = installer.get("Installers") or []
    arches = sorted(entry.get("Architecture", "?") for entry in installers)
    if arches != ["x64", "x86"]:
        problem(f"winget installer: architectures {arches}, not x64 and x86")
    for entry in installers:
        arch = entry.get("Architecture")
        where = f"winget installer {arch}"
        require(where, entry, ["Architecture", "InstallerUrl", "InstallerSha256"])
        # Fields set once at the top apply to every installer.
        merged = {**installer, **entry}
        if merged.get("InstallerType") != "zip" or merged.get("NestedInstallerType") != "portable":
            problem(f"{where}: not a zip of portable programs")
        zip_name = f"{name}-{version}-{arch}.zip"
        url = str(entry.get("InstallerUrl", ""))
        if not url.startswith("https://") or not url.endswith(f"/{zip_name}"):
            problem(f"{where}: InstallerUrl {url} is not an https download of {zip_name}")
        sha = entry.get("InstallerSha256")
        if is_text(where, "InstallerSha256", sha) and sha.lower() != sums.get(zip_name):
            problem(f"{where}: InstallerSha256 {sha} is not SHA256SUMS' {sums.get(zip_name)}")
        members = zip_members(dist, zip_name) if zip_name in sums else set()
        aliases = {}
        for nested in merged.get("NestedInstallerFiles") or []:
            relative = str(nested.get("RelativeFilePath", ""))
            if relative.replace("\\", "/") not in members:
                problem(f"{where}: {relative} is not in {zip_name}")
            aliases[relative.rsplit("\\", 1)[-1]] = nested.get("PortableCommandAlias")
        if set(aliases) != {f"{name}.exe", "quenvar-cli.exe"}:
            problem(f"{where}: nested files {sorted(aliases)}")
        if aliases.get("quenvar-cli.exe") != "quenvar-cli":
            problem(f"{where}: quenvar-cli.exe has the alias {aliases.get('quenvar-cli.exe')!r}")


def scoop_hash_search(sums_text, basename):
    # How Scoop finds a file's hash in a checksum file when the manifest gives no regex.
    pattern = (r"([a-fA-F0-9]{32,128})[\x20\t]+.*" + re.escape(basename) + r"(?:\s|$)|"
               + re.escape(basename) + r"[\x20\t]+.*?([a-fA-F0-9]{32,128})")
    m = re.search(pattern, sums_text)
    return (m.group(1) or m.group(2)).lower() if m else None


def check_scoop(dist, name, version, sums, sums_text):
    path = os.path.join(dist, "quenvar.json")
    if not os.path.isfile(path):
        problem("quenvar.json: missing")
        return
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    # Scoop's schema requires version, homepage and license; the bucket wants a description.
    require("scoop", doc, ["version", "description", "homepage", "license", "architecture",
                           "bin", "shortcuts", "checkver", "autoupdate"])
    if is_text("scoop", "version", doc.get("version")):
        if doc["version"] != version or not re.fullmatch(r"[\w.\-+]+", doc["version"]):
            problem(f"scoop: version {doc['version']!r}, not {version!r}")
    architecture = doc.get("architecture") or {}
    if sorted(architecture) != ["32bit", "64bit"]:
        problem(f"scoop: architectures {sorted(architecture)}, not 64bit and 32bit")
    updates = (doc.get("autoupdate") or {}).get("architecture") or {}
    hash_rule = (doc.get("autoupdate") or {}).get("hash") or {}
    for scoop_arch, arch in (("64bit", "x64"), ("32bit", "x86")):
        entry = architecture.get(scoop_arch) or {}
        where = f"scoop {scoop_arch}"
        require(where, entry, ["url", "hash", "extract_dir"])
        zip_name = f"{name}-{version}-{arch}.zip"
        url = str(entry.get("url", ""))
        if not url.startswith("https://") or not url.endswith(f"/{zip_name}") or "$" in url:
            problem(f"{where}: url {url} is not an https download of {zip_name}")
        if entry.get("hash") != sums.get(zip_name):
            problem(f"{where}: hash {entry.get('hash')} is not SHA256SUMS' {sums.get(zip_name)}")
        members = zip_members(dist, zip_name) if zip_name in sums else set()
        folder = entry.get("extract_dir")
        for program in (doc.get("bin"), (doc.get("shortcuts") or [[None]])[0][0]):
            if f"{folder}/{program}" not in members:
                problem(f"{where}: {folder}/{program} is not in {zip_name}")
        update = updates.get(scoop_arch) or {}
        for field in ("url", "extract_dir"):
            template = str(update.get(field, ""))
            if "$version" not in template or template.replace("$version", version) != entry.get(field):
                problem(f"{where}: autoupdate {field} {template!r} does not give {entry.get(field)!r}")
        baseurl = url.rsplit("/", 1)[0]
        if str(hash_rule.get("url", "")).replace("$baseurl", baseurl) != f"{baseurl}/SHA256SUMS":
            problem(f"{where}: autoupdate hash url {hash_rule.get('url')!r} is not the release's SHA256SUMS")
        elif hash_rule.get("regex") is None and scoop_hash_search(sums_text, zip_name) != sums.get(zip_name):
            problem(f"{where}: Scoop would not find {zip_name}'s hash in SHA256SUMS")
    if doc.get("bin") != "quenvar-cli.exe":
        problem(f"scoop: bin {doc.get('bin')!r}")
    if [s[0] for s in doc.get("shortcuts") or []] != [f"{name}.exe"]:
        problem(f"scoop: shortcuts {doc.get('shortcuts')!r}")


def main(argv):
    dist, name, version = argv[1:4]
    sums, sums_text = read_sums(dist)
    check_winget(dist, name, version, sums)
    check_scoop(dist, name, version, sums, sums_text)
    if not problems:
        print("manifests: winget (4 files) and Scoop agree with SHA256SUMS and the zips")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
