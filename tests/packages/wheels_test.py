#!/usr/bin/env python3
"""The Python wheels as users get them, offline: scripts/wheels.sh makes them from a build;
the Linux wheel installs into a fresh venv with pip --no-index and runs the README's Python
example against the simulator with nothing but its bundled library; the README's source
install works with no package index; every wheel's tag, RECORD, licence and bundled library
are what its platform needs.
    wheels_test.py SOURCE BUILD SIMULATOR       exit 77: python3-build or venv missing"""
import base64
import csv
import hashlib
import io
import os
import re
import subprocess
import sys
import tempfile
import zipfile

SOURCE, BUILD, SIMULATOR = sys.argv[1:4]
failures = []
# The machine of each platform's library: ELF e_machine, PE Machine.
MACHINES = {"linux_x86_64": ("libquorvex.so.0", b"\x7fELF", 0x3E), "win32": ("Quorvex.dll", b"MZ", 0x14C),
            "win_amd64": ("Quorvex.dll", b"MZ", 0x8664)}


def check(what, condition, got=None):
    print(("ok   " if condition else "FAIL ") + what + ("" if condition else f": got {got!r}"))
    if not condition:
        failures.append(what)


def machine(data):
    if data.startswith(b"\x7fELF"):
        return int.from_bytes(data[18:20], "little")
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return int.from_bytes(data[pe + 4:pe + 6], "little") if data[pe:pe + 4] == b"PE\0\0" else None


def wheel_problems(path, platform):
    """What is wrong with the wheel at path for platform, as a list of texts."""
    problems = []
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        info = next((n.split("/")[0] for n in names if n.endswith(".dist-info/WHEEL")), None)
        if info is None:
            return ["no WHEEL file"]
        wheel = z.read(f"{info}/WHEEL").decode()
        if f"Tag: py3-none-{platform}\n" not in wheel or "Root-Is-Purelib: true" not in wheel:
            problems.append(f"WHEEL: {wheel!r}")
        metadata = z.read(f"{info}/METADATA").decode()
        if "License: Apache-2.0" not in metadata or "Apache Software License" not in metadata:
            problems.append("the metadata does not name the licence")
        if b"Apache License" not in z.read(f"{info}/LICENSE"):
            problems.append("no licence text in the dist-info")
        rows = list(csv.reader(io.StringIO(z.read(f"{info}/RECORD").decode())))
        recorded = {r[0] for r in rows}
        if recorded != set(names):
            problems.append(f"RECORD and the files differ: {sorted(recorded ^ set(names))}")
        for name, digest, size in rows:
            if name.endswith("RECORD"):
                continue
            data = z.read(name)
            want = "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            if (digest, size) != (want, str(len(data))):
                problems.append(f"RECORD: {name} does not match")
        libraries = [n for n in names if n.endswith((".dll", ".so.0"))]
        library, magic, arch = MACHINES[platform]
        if libraries != [f"quorvex/{library}"]:
            problems.append(f"bundled libraries {libraries}")
        else:
            data = z.read(libraries[0])
            if not data.startswith(magic) or machine(data) != arch:
                problems.append(f"{library} is not for {platform} (machine {machine(data)})")
        # The Linux wheel carries the dialog module where its build made one.
        module = "quorvex/quorvex/libquorvex-gtk.so"
        if platform == "linux_x86_64" and os.path.isfile(os.path.join(BUILD, "src", "quorvex", "libquorvex-gtk.so")):
            if module not in names:
                problems.append("the dialog module is missing")
            elif machine(z.read(module)) != arch:
                problems.append("the dialog module is not for linux_x86_64")
        elif module in names:
            problems.append(f"a dialog module in a {platform} wheel")
        if not {"quorvex/__init__.py", "quorvex/_api.py", "quorvex/jobs.py", "quorvex/py.typed"} <= set(names):
            problems.append("package files missing")
    return problems


def readme_python(heading, lang):
    """The first block of lang after the heading line of the README."""
    text = open(os.path.join(SOURCE, "README.md"), encoding="utf-8").read()
    match = re.search(rf"^{re.escape(heading)}\n.*?^```{lang}\n(.*?)^```$", text, re.S | re.M)
    return match.group(1) if match else ""


def run(command, cwd, **env_changes):
    env = {k: v for k, v in os.environ.items() if k not in ("QUORVEX_LIBRARY", "PYTHONPATH", "LD_LIBRARY_PATH")}
    env.update(env_changes, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=300)


def main():
    if subprocess.run([sys.executable, "-c", "import venv, ensurepip"], capture_output=True).returncode:
        print("skipped: python3-venv is missing")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        dist = os.path.join(tmp, "dist")
        made = run(["bash", os.path.join(SOURCE, "scripts", "wheels.sh"), "--no-build", dist], tmp,
                   QUORVEX_BUILD_DIR=BUILD)
        if "python3-build is missing" in made.stderr:
            print("skipped: python3-build is missing")
            return 77
        check("wheels.sh makes the wheels", made.returncode == 0, made.stdout + made.stderr)
        wheels = {re.search(r"py3-none-(\w+)\.whl$", w).group(1): os.path.join(dist, w)
                  for w in os.listdir(dist) if w.endswith(".whl")}
        check("a Linux wheel among them", "linux_x86_64" in wheels, wheels)
        cmake = open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8").read()
        init = open(os.path.join(SOURCE, "bindings", "python", "quorvex", "__init__.py"), encoding="utf-8").read()
        version = re.search(r"project\(quorvex VERSION ([\d.]+)", cmake).group(1)
        check("the wheels and the package have the library's version",
              all(f"quorvex-{version}-" in w for w in wheels.values()) and f'__version__ = "{version}"' in init)
        for platform, path in sorted(wheels.items()):
            problems = wheel_problems(path, platform)
            check(f"the {platform} wheel: tag, RECORD, licence and its own library", not problems, problems)

        sim = subprocess.Popen([SIMULATOR, "--port", "0", "--quiet"], stdout=subprocess.PIPE, text=True)
        try:
            port = re.search(r":(\d+)$", sim.stdout.readline().strip()).group(1)
            example = readme_python("### Python", "python").replace("9000", port)
            check("the README has a Python example", "import quorvex" in example)
            if "linux_x86_64" in wheels:
                run([sys.executable, "-m", "venv", "wheel-venv"], tmp)
                python = os.path.join(tmp, "wheel-venv", "bin", "python")
                pip = run([python, "-m", "pip", "install", "--no-index", wheels["linux_x86_64"]], tmp)
                check("pip installs the Linux wheel offline", pip.returncode == 0, pip.stdout + pip.stderr)
                found = run([python, "-c", "import quorvex._native as n; print(n.bundled_library())"], tmp)
                check("the installed package finds its bundled library",
                      found.stdout.startswith(os.path.join(tmp, "wheel-venv")), found.stdout + found.stderr)
                out = run([python, "-c", example], tmp)
                check("the README's example runs from the wheel, with no other library",
                      "number rules: " in out.stdout and "\njob " in out.stdout, out.stdout + out.stderr)

            # The README's source install, as written, from a tree laid out like the source's.
            os.symlink(os.path.join(SOURCE, "bindings"), os.path.join(tmp, "bindings"))
            commands = readme_python("### Python", "sh")
            source = run(["sh", "-e", "-c", commands], tmp)
            check("the README's source install works without a package index", source.returncode == 0,
                  commands + source.stdout + source.stderr)
            library = os.path.join(BUILD, "src", "libquorvex.so.0")
            out = run([os.path.join(tmp, "venv", "bin", "python"), "-c", example], tmp, QUORVEX_LIBRARY=library)
            check("and the example runs from it with QUORVEX_LIBRARY",
                  "number rules: " in out.stdout, out.stdout + out.stderr)
        finally:
            sim.terminate()
            sim.wait()
    print(f"wheels: {'ok' if not failures else str(len(failures)) + ' failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
