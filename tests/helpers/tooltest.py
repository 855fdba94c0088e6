"""What the end-to-end tests share: running the tool and reading back what it wrote. The
archives themselves come from the test-archive generator (tests/fixtures/make_fixtures.py),
imported here as `fixtures`."""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import make_fixtures as fixtures  # noqa: E402,F401


def run(tool, args, cwd, env=None, timeout=300, **popen):
    """Runs the tool in cwd: its status and everything it printed (both streams, as text)."""
    p = subprocess.run([tool] + args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=timeout, **popen)
    return p.returncode, p.stdout.decode("latin-1")


def preload(tool, library):
    """LD_PRELOAD for a library preloaded into the tool: after the sanitizer runtime when the tool
    carries one."""
    linked = subprocess.run(["ldd", tool], stdout=subprocess.PIPE, text=True).stdout
    return ":".join(re.findall(r"=> (\S*/libasan\.so\S*)", linked)[:1] + [library])


def files_under(root):
    """Every file below root: its path relative to root and its bytes."""
    found = {}
    for base, _, names in os.walk(root):
        for n in names:
            path = os.path.join(base, n)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found



def fresh_dir(*parts):
    """An empty folder at the joined path (anything there before is removed): its path."""
    path = os.path.join(*parts)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def case_dir(case, scratch, prefix="", suffix=""):
    """A fresh folder under scratch named after the running test method."""
    return fresh_dir(scratch, prefix + case.id().rsplit(".", 1)[1] + suffix)


def put(folder, name, data):
    """Writes data to folder/name: the name."""
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    return name


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def repacked(case, tool, cwd, archive, args=("-r",), out="again", **kw):
    """Repacks cwd/out onto archive as `out` (exit 0, no ERROR): the bytes written."""
    status, text = run(tool, list(args) + [archive, "out", "-o", out], cwd, **kw)
    case.assertEqual(status, 0, text)
    case.assertNotIn("ERROR", text)
    return read(cwd, out + os.path.splitext(archive)[1])


def xtre_named(entries):
    """An XTRE whose (name, bytes) entries are named, in order, by one clash table."""
    return fixtures.xtre(1, [fixtures.XFile(d) for _, d in entries], [(0x5A5A0001, ("clash", 0))],
                         [[(n, i) for i, (n, _) in enumerate(entries)]])


def crctre_named(entries, crc=None):
    """A CRC-TRE of (name, bytes) entries; a name's bytes after a NUL are kept past it in the field.
    One crc for every row keeps the table in the entries' order."""
    rows = []
    for n, d in entries:
        name, _, junk = (n.encode("latin-1") if isinstance(n, str) else n).partition(b"\0")
        rows.append({"name": name, "junk": junk, "data": d})
        if crc is not None:
            rows[-1]["crc"] = crc
    return fixtures.crctre(rows)
