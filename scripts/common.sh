# Shared by build.sh, test.sh and fuzz.sh: installs what is missing and builds presets.

# A value of release.conf, what a release is: release_value KEY [ARCH], with {name}, {version} and {arch}
# put in, as the Python scripts read it.
RELEASE_DESCRIPTION="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/release_description.py"
release_value() { "$RELEASE_DESCRIPTION" value "$@"; }

# Debian packages the project needs, with a file each one provides.
REQUIRED_PACKAGES=(
    "cmake:/usr/bin/cmake"
    "g++:/usr/bin/g++"
    "libgtest-dev:/usr/include/gtest/gtest.h"
    "googletest:/usr/src/googletest/CMakeLists.txt"
    "nlohmann-json3-dev:/usr/include/nlohmann/json.hpp"
    "wine:/usr/bin/wine"
    "wine64:/usr/lib/wine/wine64"
    "wine32:i386:/usr/lib/wine/wine"
    # A dependency of wine32's; named so that apt's resolver finds it when it must use the
    # release's own lists (below).
    "libgstreamer-plugins-base1.0-0:i386:/usr/lib/i386-linux-gnu/libgstvideo-1.0.so.0"
    "python3-pefile:/usr/lib/python3/dist-packages/pefile.py"
    "clang:/usr/bin/clang++"
    "llvm-14:/usr/bin/llvm-nm-14"
    "libclang-rt-14-dev:/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a"
    "clang-tidy:/usr/bin/clang-tidy"
    "cppcheck:/usr/bin/cppcheck"
    # Only the static analysis reads it: the C++ library headers for the Windows sources, which clang-tidy's
    # clang cannot read through Zig's newer libc++.
    "g++-mingw-w64-x86-64-win32:/usr/lib/gcc/x86_64-w64-mingw32/12-win32/include/c++/cstdio"
    "osslsigncode:/usr/bin/osslsigncode"
    # Signing with a key on a PKCS#11 token: Debian's PKCS#11 engine for OpenSSL. The tests' token is
    # SoftHSM2's, its key made by OpenSC's pkcs11-tool.
    "libengine-pkcs11-openssl:/usr/lib/x86_64-linux-gnu/engines-3/pkcs11.so"
    "softhsm2:/usr/lib/softhsm/libsofthsm2.so"
    "opensc:/usr/bin/pkcs11-tool"
    "chromium:/usr/bin/chromium"
    "poppler-utils:/usr/bin/pdftotext"
    "python3-venv:/usr/share/doc/python3-venv"
    # The ARM64 programs run under Debian 13's arm64 Wine, in a root of its own, through qemu-user.
    "qemu-user-static:/usr/bin/qemu-aarch64-static"
    "binfmt-support:/usr/sbin/update-binfmts"
    "debootstrap:/usr/sbin/debootstrap"
)

# The pinned PyPI tools (scripts/python-tools.txt), in a virtual environment
# of Debian's python3; made anew when the pins change.
PYTHON_TOOLS=build/python-tools
# Zig's driver and the release scripts find Zig here, also for a build from another folder.
export KORVEL_PYTHON_TOOLS="${KORVEL_PYTHON_TOOLS:-$PWD/$PYTHON_TOOLS}"

install_python_tools() {
    cmp -s scripts/python-tools.txt "$PYTHON_TOOLS/pins.txt" && return 0
    echo "== installing into $PYTHON_TOOLS: $(grep -v '^#' scripts/python-tools.txt | tr '\n' ' ')"
    rm -rf "$PYTHON_TOOLS"
    /usr/bin/python3 -m venv "$PYTHON_TOOLS" &&
        "$PYTHON_TOOLS/bin/pip" install -q --disable-pip-version-check -r scripts/python-tools.txt &&
        share_zig && cp scripts/python-tools.txt "$PYTHON_TOOLS/pins.txt"
}

# Zig keys its cache of built runtime libraries (minutes per architecture) by the folder it
# runs from, so a checkout of its own would build them all again. The pinned package is kept
# once per machine and version (where that folder can be written), and the venv's is a link to it.
ZIG_SHARED=/var/cache/korvel
share_zig() {
    local package version shared
    package=$(ls -d "$PYTHON_TOOLS"/lib/python3*/site-packages/ziglang) || return 1
    version=$(sed -n 's/^Version: //p' "$package"/../ziglang-*.dist-info/METADATA)
    shared="$ZIG_SHARED/ziglang-$version"
    mkdir -p "$ZIG_SHARED" 2> /dev/null && [ -w "$ZIG_SHARED" ] || return 0
    if [ ! -x "$shared/zig" ]; then
        rm -rf "$shared.new.$$" && cp -a "$package" "$shared.new.$$" && mv -T "$shared.new.$$" "$shared" 2> /dev/null
        rm -rf "$shared.new.$$"
    fi
    [ -x "$shared/zig" ] && [ "$("$shared/zig" version)" = "$("$package/zig" version)" ] || return 0
    rm -rf "$package" && ln -s "$shared" "$package"
}

# The bytes the programs' components came in, whose SHA-512 the SBOMs give: the pinned ziglang wheel,
# kept by the install step, and the Debian packages that apt no longer holds (scripts/components.py).
export KORVEL_DISTRIBUTIONS="${KORVEL_DISTRIBUTIONS:-$PWD/build/distributions}"
download_distributions() {
    local pin
    pin=$(grep '^ziglang==' scripts/python-tools.txt)
    ls "$KORVEL_DISTRIBUTIONS/ziglang-${pin#ziglang==}-"*.whl > /dev/null 2>&1 && return 0
    "$PYTHON_TOOLS/bin/pip" download -q --disable-pip-version-check --no-deps --only-binary=:all: \
        -d "$KORVEL_DISTRIBUTIONS" "$pin"
}

# Idempotent: installs only packages whose file is missing, then the Python
# tools. 32-bit Wine needs the i386 architecture before the package lists are read.
install_missing() {
    install_debian_packages && install_python_tools && download_distributions
}

install_debian_packages() {
    local missing=()
    local entry
    for entry in "${REQUIRED_PACKAGES[@]}"; do
        [ -e "${entry##*:}" ] || missing+=("${entry%:*}")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" && return 0
    # A mirror caught mid-sync can leave one architecture's security list unread; the i386
    # libraries then cannot match their amd64 twins. The release's own lists hold both at one
    # version.
    local release
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "== apt could not install them as listed; again from $release's own lists"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -t "$release" "${missing[@]}"
}

JOBS=$(nproc 2>/dev/null || echo 2)

# Configures and builds a preset: all of it, or the targets named after it.
build_preset() {
    local preset=$1
    shift
    mkdir -p build
    if ! cmake --preset "$preset" > "build/$preset-configure.log" 2>&1; then
        # A build folder made with another toolchain cannot be configured again: made anew once.
        [ -f "build/$preset/CMakeCache.txt" ] || { cat "build/$preset-configure.log"; return 1; }
        echo "== build/$preset was configured otherwise: made anew"
        rm -rf "build/$preset"
        cmake --preset "$preset" > "build/$preset-configure.log" 2>&1 || { cat "build/$preset-configure.log"; return 1; }
    fi
    [ $# -eq 0 ] || set -- --target "$@"
    cmake --build --preset "$preset" -j "$JOBS" "$@" || return 1
}

# What ships is stripped: the Windows deliverables at link time (a strip
# afterwards would stamp the time into the PE header), the Linux ones here.
install_preset() {
    local preset=$1 strip=""
    [ "$preset" = linux ] && strip="--strip"
    rm -rf "dist/$preset"
    cmake --install "build/$preset" --prefix "dist/$preset" $strip > /dev/null
}

# dist/SHA256SUMS: every Windows deliverable and the SBOMs, paths relative to dist/.
write_checksums() {
    local files
    files=$(cd dist && { find $(windows_presets) -type f && ls *.spdx.json *.cdx.json; } | LC_ALL=C sort) &&
        scripts/checksums.py dist $files
}

# The commit a build comes from, as BUILDINFO records it, and its time, for
# the zips and the default signing time. KORVEL_COMMIT and SOURCE_DATE_EPOCH,
# when set, stand for a tree that is no checkout.
release_commit() {
    local commit
    if [ -n "${KORVEL_COMMIT:-}" ]; then
        echo "$KORVEL_COMMIT"
    elif commit=$(git rev-parse HEAD 2>/dev/null); then
        [ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || commit="$commit+modified"
        echo "$commit"
    else
        echo "unknown"
    fi
}

release_time() {
    if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
        echo "$SOURCE_DATE_EPOCH"
    else
        git log -1 --format=%ct 2>/dev/null || echo 315532800
    fi
}

# dist/korvel-VERSION-windows-ARCH-unsigned.zip and its SBOMs for every
# architecture, from the builds in BUILDS ("{arch}" for the architecture).
write_unsigned_zips() {
    scripts/release_zip.py unsigned dist "$(release_commit)" "$(release_time)" "${1:-build/windows-{arch\}}"
}

# windows-x64 windows-x86 windows-arm64: one preset per architecture of the release.
windows_presets() {
    local arch
    for arch in $(release_value architectures); do release_value build "$arch"; done | tr '\n' ' '
}

build_deliverables() {
    local preset
    for preset in linux $(windows_presets); do
        echo "== building $preset"
        build_preset "$preset" && install_preset "$preset" || return 1
    done
    write_unsigned_zips && write_checksums &&
        dist/linux/korvel-report > dist/report-builtin.html
}
