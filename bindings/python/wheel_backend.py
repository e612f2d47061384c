"""The package's build backend (PEP 517): writes the wheel with zipfile alone.

The package is pure Python over ctypes, so its wheel needs no compiler and no
setuptools; a backend of its own builds offline, with or without pip's build
isolation, since it requires nothing.  Without settings it makes a py3-none-any
wheel that finds the library installed on the system.  With the settings

    library=PATH     a library file to bundle inside the package (libquorvex.so.0 or
                     Quorvex.dll, under that name), found before any other
    platform=TAG     the wheel's platform tag (linux_x86_64, win32, win_amd64)
    module=PATH      the Linux dialog module (libquorvex-gtk.so) to bundle where the
                     library looks for it, quorvex/libquorvex-gtk.so below its own folder

it makes a py3-none-TAG wheel for that platform, e.g.
    python3 -m build --no-isolation --wheel -C library=.../Quorvex.dll -C platform=win32
"""
import base64
import hashlib
import os
import re
import zipfile

try:
    import tomllib
except ImportError:  # before Python 3.11, which has no TOML reader of its own
    tomllib = None

HERE = os.path.dirname(os.path.realpath(__file__))
PACKAGE = "quorvex"
# The licence file sits at the root of the source tree; a copy beside this file wins.
LICENSE_PLACES = (os.path.join(HERE, "LICENSE"), os.path.join(HERE, "..", "..", "LICENSE"))
# What each platform's loader looks for inside the package.
BUNDLED_NAMES = {"linux_x86_64": "libquorvex.so.0", "win32": "Quorvex.dll", "win_amd64": "Quorvex.dll"}


def _project():
    path = os.path.join(HERE, "pyproject.toml")
    if tomllib:
        with open(path, "rb") as f:
            return tomllib.load(f)["project"]
    # The few forms this package's [project] table uses: key = "text", key = {text = "..."},
    # and a list of texts.
    with open(path, encoding="utf-8") as f:
        table = f.read().split("[project]", 1)[1].split("\n[", 1)[0]
    project = {}
    for key, value in re.findall(r'^([\w-]+) = (".*?"|\{.*?\}|\[.*?\])$', table, re.M | re.S):
        texts = re.findall(r'"(.*?)"', value)
        project[key] = {"text": texts[0]} if value[0] == "{" else texts if value[0] == "[" else texts[0]
    return project


def _metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}",
             f"Summary: {project['description']}", f"Requires-Python: {project['requires-python']}",
             f"License: {project['license']['text']}", "License-File: LICENSE"]
    lines += [f"Classifier: {c}" for c in project.get("classifiers", ())]
    readme = project.get("readme")
    body = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(HERE, readme), encoding="utf-8") as f:
            body = "\n" + f.read()
    return "\n".join(lines) + "\n" + body


def _settings(config_settings):
    settings = dict(config_settings or {})
    library, platform = settings.get("library"), settings.get("platform", "any")
    module = settings.get("module")
    if module and platform != "linux_x86_64":
        raise ValueError("module= is the Linux dialog module: only with platform=linux_x86_64")
    if platform not in BUNDLED_NAMES and platform != "any":
        raise ValueError(f"platform={platform}: one of {', '.join(BUNDLED_NAMES)} (or none for any)")
    if bool(library) != (platform != "any"):
        raise ValueError("library= and platform= go together: a platform wheel bundles its library")
    return library, platform, module


def _license():
    for path in LICENSE_PLACES:
        if os.path.isfile(path):
            return path
    raise FileNotFoundError("LICENSE not found beside the package or at the root of the source tree")


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _files(library, platform, module=None):
    """(name in the wheel, bytes) of the package, in a fixed order."""
    package_dir = os.path.join(HERE, PACKAGE)
    names = sorted(n for n in os.listdir(package_dir) if n.endswith(".py") or n == "py.typed")
    files = []
    for n in names:
        with open(os.path.join(package_dir, n), "rb") as f:
            files.append((f"{PACKAGE}/{n}", f.read()))
    if library:
        with open(library, "rb") as f:  # a symbolic link's target, under the name the loader wants
            files.append((f"{PACKAGE}/{BUNDLED_NAMES[platform]}", f.read()))
    if module:
        with open(module, "rb") as f:  # below the library, where it loads its module from
            files.append((f"{PACKAGE}/quorvex/libquorvex-gtk.so", f.read()))
    return files


def _dist_info(project, platform):
    name, version = project["name"], project["version"]
    info = f"{name}-{version}.dist-info"
    wheel = ("Wheel-Version: 1.0\nGenerator: quorvex wheel_backend\nRoot-Is-Purelib: true\n"
             f"Tag: py3-none-{platform}\n")
    with open(_license(), "rb") as f:
        license_text = f.read()
    metadata = _metadata(project)
    return info, [(f"{info}/METADATA", metadata.encode()), (f"{info}/WHEEL", wheel.encode()),
                  (f"{info}/LICENSE", license_text), (f"{info}/top_level.txt", f"{PACKAGE}\n".encode())]


def _wheel_name(project, platform):
    return f"{re.sub(r'[^A-Za-z0-9.]+', '_', project['name'])}-{project['version']}-py3-none-{platform}.whl"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    info, files = _dist_info(project, _settings(config_settings)[1])
    for name, data in files:
        target = os.path.join(metadata_directory, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
    return info


def _write(wheel_directory, project, platform, files):
    info, meta = _dist_info(project, platform)
    entries = files + meta
    record = "\n".join([_record_line(n, d) for n, d in entries] + [f"{info}/RECORD,,"]) + "\n"
    entries.append((f"{info}/RECORD", record.encode()))
    name = _wheel_name(project, platform)
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as z:
        for entry, data in entries:
            # A fixed date and mode, so that the same sources make the same wheel.
            item = zipfile.ZipInfo(entry, date_time=(1980, 1, 1, 0, 0, 0))
            item.external_attr = 0o644 << 16
            item.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(item, data)
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    library, platform, module = _settings(config_settings)
    return _write(wheel_directory, _project(), platform, _files(library, platform, module))


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """A wheel that puts this folder on the path, so that edits take effect at once."""
    project = _project()
    return _write(wheel_directory, project, "any", [(f"__editable__.{PACKAGE}.pth", (HERE + "\n").encode())])
