#!/usr/bin/env bash
# The installation and the Debian package as a user's system sees them (make test runs it after
# `make deb`). Installs the build into a temporary DESTDIR and checks the desktop entry, the
# AppStream file, the MIME type, the manual pages and the completions with Debian's own tools;
# then, with the build folder renamed away, that every installed program answers --help from
# its installed place and that the installed desktop program opens the installed demo file
# given on its command line. Then the package: its file list against deb-contents.txt, its
# dependencies, and lintian, whose warnings must be those that lintian-warnings.txt lists (the
# README explains each). Leaves nothing behind, and the build folder where it was.
set -uo pipefail
build=$(realpath "${1:?build folder of make deb}")
here=$(realpath "$(dirname "$0")")
work=$(mktemp -d /tmp/bankquill-install-check.XXXXXX)
away="$build.away-$$"
program_pid=""

cleanup() {
    [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
    [[ -d $away && ! -e $build ]] && mv "$away" "$build"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

passed=0
failed=0
pass() { echo "[ OK ] $1"; passed=$((passed + 1)); }
fail() { echo "[FAIL] $1"; [[ -n ${2:-} ]] && printf '%s\n' "$2" | sed 's/^/       /'; failed=$((failed + 1)); }
# check "what" command...: passes when the command succeeds and says nothing on stderr.
check() {
    local what=$1 out
    shift
    if out=$("$@" 2>&1 >/dev/null) && [[ -z $out ]]; then pass "$what"; else fail "$what" "$out"; fi
}

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
dest="$work/dest"
root="$dest$prefix"
if ! DESTDIR="$dest" cmake --install "$build" >"$work/install.log" 2>&1; then
    fail "cmake --install into a temporary DESTDIR" "$(tail -20 "$work/install.log")"
    echo "install checks: $passed passed, $failed failed"
    exit 1
fi
pass "cmake --install into a temporary DESTDIR ($prefix)"

outside=$(cd "$dest" && find . -type f -o -type l | sed 's/^\.//' | grep -v "^$prefix/")
[[ -z $outside ]] && pass "no file outside $prefix" || fail "no file outside $prefix" "$outside"

check "desktop-file-validate on the desktop entry" \
    desktop-file-validate "$root/share/applications/org.bankquill.Bankquill.desktop"
out=$(appstreamcli validate --no-net --no-color "$root/share/metainfo/org.bankquill.Bankquill.metainfo.xml" 2>&1)
[[ $? -eq 0 ]] && pass "appstreamcli validate --no-net on the metainfo" ||
    fail "appstreamcli validate --no-net on the metainfo" "$out"

# The MIME type: a PCG file is known by its header alone, and a file named *.PCG by its name.
mkdir -p "$work/mime/share/mime/packages" "$work/files"
cp "$root/share/mime/packages/org.bankquill.Bankquill.xml" "$work/mime/share/mime/packages/"
out=$(update-mime-database "$work/mime/share/mime" 2>&1)
[[ $? -eq 0 ]] && pass "update-mime-database takes the MIME type" ||
    fail "update-mime-database takes the MIME type" "$out"
cp "$root/share/bankquill/demo.pcg" "$work/files/no-extension"
printf 'not a bank' >"$work/files/NAMED.PCG"
for file in no-extension NAMED.PCG; do
    type=$(XDG_DATA_HOME="$work/none" XDG_DATA_DIRS="$work/mime/share" \
        gio info -a standard::content-type "$work/files/$file" 2>&1 | sed -n 's/.*content-type: //p')
    [[ $type == application/x-korg-karma-pcg ]] && pass "a PCG file ($file) is application/x-korg-karma-pcg" ||
        fail "a PCG file ($file) is application/x-korg-karma-pcg" "gio says: $type"
done

programs=()
for path in "$root/bin/"*; do programs+=("$(basename "$path")"); done
for name in "${programs[@]}"; do
    page="$root/share/man/man1/$name.1.gz"
    if [[ ! -f $page ]]; then
        fail "a manual page for $name"
        continue
    fi
    check "man --warnings -l renders $name.1 cleanly" \
        env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page"
done

# Completions: "--" offers exactly the long options that --help lists.
for completion in "$root/share/bash-completion/completions/"*; do
    name=$(basename "$completion")
    offered=$(bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"
        COMP_WORDS=("$2" --); COMP_CWORD=1; COMP_LINE="$2 --"; COMP_POINT=${#COMP_LINE}
        "_${2//-/_}" "$2" -- "$2"; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$name" |
        sort -u)
    listed=$("$root/bin/$name" --help | grep -oE '^ *(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+' | sort -u)
    [[ -n $offered && $offered == "$listed" ]] && pass "the completion of $name offers the options of its --help" ||
        fail "the completion of $name offers the options of its --help" "offered: $offered; --help: $listed"
done

# Uninstalling removes exactly what was installed: a file of someone else's stays.
cp -a "$dest" "$work/uninstalled"
touch "$work/uninstalled$prefix/share/applications/someone-else.desktop"
out=$(DESTDIR="$work/uninstalled" cmake -DMANIFEST="$build/install_manifest.txt" \
    -P "$here/../../../cmake/Uninstall.cmake" 2>&1 >/dev/null)
left=$(cd "$work/uninstalled" && find . -type f -o -type l -o -name bankquill)
[[ -z $out && $left == "./${prefix#/}/share/applications/someone-else.desktop" ]] &&
    pass "uninstalling removes exactly what was installed" ||
    fail "uninstalling removes exactly what was installed" "$out; left: $left"
rm -rf "$work/uninstalled"

# From here on nothing may come from the build folder.
mv "$build" "$away"
env_run() {
    env -i PATH="$root/bin:/usr/bin:/bin" HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" \
        XDG_RUNTIME_DIR="$work/run" JACK_NO_START_SERVER=1 LANG=C.UTF-8 "$@"
}
mkdir -p "$work/home/config" "$work/run" && chmod 700 "$work/run"
for name in "${programs[@]}"; do
    out=$(cd "$work" && env_run "$root/bin/$name" --help 2>&1)
    status=$?
    [[ $status -eq 0 && -n $out ]] && pass "$name --help answers from $prefix/bin with the build folder gone" ||
        fail "$name --help answers from $prefix/bin with the build folder gone" "status $status: $out"
done

# The desktop program with the demo file on its command line, on a display of its own: the
# PCG window's title names the file once it is open.
demo="$root/share/bankquill/demo.pcg"
title="Bankquill - PCG File - [$demo]"
export ROOT="$root" WORK="$work" TITLE="$title" DEMO="$demo"
xvfb-run -a -s "-screen 0 1024x768x24" -e "$work/xvfb.log" bash -c '
    env -i PATH="$ROOT/bin:/usr/bin:/bin" HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config" \
        XDG_RUNTIME_DIR="$WORK/run" JACK_NO_START_SERVER=1 LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
        DISPLAY="$DISPLAY" XAUTHORITY="$XAUTHORITY" bankquill "$DEMO" >"$WORK/bankquill.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        for window in $(xdotool search --name "PCG File" 2>/dev/null); do
            if [[ $(xdotool getwindowname "$window") == "$TITLE" ]]; then
                kill "$pid"; wait "$pid"; exit 0
            fi
        done
        kill -0 "$pid" 2>/dev/null || exit 2
        sleep 0.1
    done
    kill "$pid"; wait "$pid"; exit 1'
status=$?
[[ $status -eq 0 ]] && pass "bankquill FILE opens the installed demo file in a window" ||
    fail "bankquill FILE opens the installed demo file in a window" \
        "status $status (1: no window titled '$title' in 30 s; 2: the program ended); its output: $(tail -20 "$work/bankquill.log" 2>/dev/null)"
mv "$away" "$build"

# The package.
debs=("$build"/package/*.deb)
deb=${debs[0]}
if [[ ${#debs[@]} -ne 1 || ! -f $deb ]]; then
    fail "one package in $build/package" "${debs[*]}"
else
    dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's/^\.//' | grep -v '/$' | LC_ALL=C sort >"$work/contents"
    out=$(diff -u "$here/deb-contents.txt" "$work/contents")
    [[ $? -eq 0 ]] && pass "dpkg-deb --contents lists what deb-contents.txt lists" ||
        fail "dpkg-deb --contents lists what deb-contents.txt lists" "$out"
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == *libqt6widgets6* && $depends == *libjack* ]] &&
        pass "the package depends on Qt 6 Widgets and libjack ($depends)" ||
        fail "the package depends on Qt 6 Widgets and libjack" "Depends: $depends"
    lintian --no-cfg --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
    errors=$(grep '^E: ' "$work/lintian")
    [[ -z $errors ]] && pass "lintian reports no error" || fail "lintian reports no error" "$errors"
    # Tag and what it names, without the package's name and version.
    sed -n 's/^W: [^:]*: //p' "$work/lintian" | LC_ALL=C sort -u >"$work/warnings"
    out=$({ grep -v "^#" "$here/lintian-warnings.txt" || true; } | LC_ALL=C sort -u |
        diff -u - "$work/warnings")
    [[ $? -eq 0 ]] && pass "lintian warns of what lintian-warnings.txt lists, and nothing else" ||
        fail "lintian warns of what lintian-warnings.txt lists, and nothing else" "$out"
fi

echo "install checks: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
