#!/usr/bin/python3
"""Zig's toolchain for Windows, as CMake calls a MinGW-w64 one:
zig-cc, zig-c++, zig-rc, zig-dlltool, zig-ar and zig-ranlib beside this file
are links to it, and each name is the Zig command it runs
(`zig_driver.py MODE ARGS...` does the same).

Zig's driver passes compilation flags on untouched, but drops or refuses the
GNU linker options the project gives every Windows program (--wrap, -Map,
--no-insert-timestamp). A link therefore runs twice: Zig's driver once, with
-v, which builds the runtime libraries it needs and names them on its
lld-link line; then that line again, with the dropped options in lld-link's
own words; a -Wl, word that starts with "/" is lld-link's already and goes
to it as it stands. Only the second link's answer counts. Archives are Zig's
own too: a host ar may not index ARM64 COFF objects, and lld needs the index.

The target comes as clang's --target=TRIPLE (the toolchain file's
CMAKE_<LANG>_COMPILER_TARGET), on every compile and link.

Zig's compile cache leaves -fstack-protector* out of its key: a change of
that flag alone would reuse objects built without it. The driver therefore
names the flag again in a macro definition, which is part of the key.

Zig comes from the project's pinned PyPI package: KORVEL_PYTHON_TOOLS, else
the checkout's build/python-tools.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import components  # noqa: E402  (where the pinned ziglang package is)


def zig_executable():
    try:
        return os.path.join(components.ziglang_package(), "zig")
    except ValueError as error:
        sys.exit(f"zig_driver: {error}: run ./build.sh, which installs it")


def zig_environment():
    """Zig's own cache, where Zig keeps it, for both of its caches: the runtime
    libraries it builds (minutes, the first time) serve every later build
    and checkout; they are the same bytes wherever they are kept."""
    env = dict(os.environ)
    cache = os.path.join(env.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "zig")
    env.setdefault("ZIG_GLOBAL_CACHE_DIR", cache)
    env.setdefault("ZIG_LOCAL_CACHE_DIR", env["ZIG_GLOBAL_CACHE_DIR"])
    return env


def gnu_to_lld(option):
    """lld-link's words for a GNU linker option Zig drops; None if Zig keeps it."""
    if option.startswith("/"):
        return ["-" + option[1:]]
    # lld's link.exe-style map names each kept symbol's library and object.
    for prefix, lld in (("--wrap=", "-wrap:"), ("-Map=", "-map:")):
        if option.startswith(prefix):
            return [lld + option[len(prefix):]]
    if option == "--no-insert-timestamp":
        return ["-timestamp:0"]
    if option == "--gc-sections":
        return ["-opt:ref"]
    return None


def split_link_options(args):
    """Zig's arguments, and the lld-link options that stand for the ones it drops."""
    kept, lld = [], []
    for arg in args:
        if arg.startswith("-Wl,"):
            passed = []
            for option in arg[4:].split(","):
                translated = gnu_to_lld(option)
                if translated is None:
                    passed.append(option)
                else:
                    lld += translated
            if passed:
                kept.append("-Wl," + ",".join(passed))
        elif arg.endswith(".def") and not arg.startswith("-"):
            lld.append("-def:" + arg)  # a module-definition file names the exports
        else:
            kept.append(arg)
    return kept, lld


def take_target(args):
    """(Zig's target, the other arguments)"""
    targets = [a[len("--target="):] for a in args if a.startswith("--target=")]
    if not targets:
        sys.exit("zig_driver: no --target=TRIPLE (the toolchain file sets CMAKE_<LANG>_COMPILER_TARGET)")
    return targets[-1], [a for a in args if not a.startswith("--target=")]


def cache_key(args):
    """A definition that carries each stack-protector flag into Zig's cache key."""
    return [f"-DZIG_DRIVER_{re.sub(r'[^A-Za-z0-9]', '_', a.lstrip('-'))}"
            for a in args if re.match(r"-f(no-)?stack-protector", a)]


def is_link(args):
    return not any(a in ("-c", "-E", "-S", "-M", "-MM") for a in args)


def link(zig, mode, target, args, env):
    kept, lld = split_link_options(args)
    # Zig prints its lld-link line unquoted: a path with a space could not be read back.
    if any(" " in arg for arg in kept + [zig, env["ZIG_GLOBAL_CACHE_DIR"], os.getcwd()]):
        sys.exit("zig_driver: a path with a space cannot be linked (Zig prints its lld-link line unquoted)")
    first = subprocess.run([zig, mode, "-target", target, "-v", *kept], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = [line for line in first.stderr.splitlines() if line.startswith("lld-link -")]
    if not lines:
        sys.stderr.write(first.stderr)
        return first.returncode or 1
    command = lines[-1].split(" ")[1:]
    return subprocess.run([zig, "lld-link", *command, *lld], env=env).returncode


MODES = ("cc", "c++", "rc", "dlltool", "ar", "ranlib")


def main(argv):
    name = os.path.basename(argv[0])
    if name.startswith("zig-"):
        mode, args = name[len("zig-"):], argv[1:]
    else:
        mode, args = (argv[1] if len(argv) > 1 else ""), argv[2:]
    if mode not in MODES:
        sys.exit(f"usage: zig_driver.py {'|'.join(MODES)} ARGS...")
    zig, env = zig_executable(), zig_environment()
    if mode not in ("cc", "c++"):
        os.execve(zig, [zig, mode, *args], env)
    target, args = take_target(args)
    if not is_link(args) or "-v" in args or "--version" in args:
        os.execve(zig, [zig, mode, "-target", target, *args, *cache_key(args)], env)
    return link(zig, mode, target, args, env)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
