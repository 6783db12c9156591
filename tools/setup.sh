#!/usr/bin/env bash
# Installs what this machine lacks for one or more purposes, and nothing else:
#   build    the three programs and the level generator (the README's run command)
#   test     both test workflows, with the glTF validator from npm in build/npm
#   bench    the benchmark program
#   windows  the MinGW-w64 cross build and Wine (tools/windows-check.sh)
#   fuzz     clang with its fuzzer runtime (fuzz/run.sh)
#   render   headless Chromium and three.js (tools/render-export.sh)
#   lint     clang-format and clang-tidy (tools/lint.sh)
# Usage: tools/setup.sh PURPOSE...
# Debian packages are installed with apt-get (as root, or through sudo), only when missing;
# the package lists are refreshed only when a missing package is unknown to them. A package
# manager run by someone else is waited for, up to SETUP_LOCK_WAIT seconds (300 by default).
# Without root or sudo, or when apt-get fails, it stops with one line naming what to install.
set -euo pipefail
cd "$(dirname "$0")/.."

# One list per purpose. "package:command" is satisfied by that command on the PATH too, for
# tools that a machine may have from elsewhere than a Debian package.
build_packages="cmake ninja-build g++ zlib1g-dev libcli11-dev nlohmann-json3-dev libstb-dev"
test_packages="$build_packages libgtest-dev libgmock-dev libtinygltf-dev groff-base
               python3:python3 nodejs:node npm:npm"
bench_packages="$build_packages libbenchmark-dev"
windows_packages="$build_packages g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64"
fuzz_packages="$build_packages clang libclang-rt-14-dev"
render_packages="$build_packages chromium:chromium nodejs:node npm:npm"
lint_packages="$build_packages clang-format clang-tidy"
# The npm check tools, installed together into build/npm: each install prunes what it was not
# asked for.
npm_tools="gltf-validator three"

say() { echo "setup: $*"; }
stop() {
    echo "setup: $*" >&2
    exit 1
}

[ $# -gt 0 ] || stop "usage: tools/setup.sh build|test|bench|windows|fuzz|render|lint..."
wanted=()
need_npm=0
for purpose in "$@"; do
    case $purpose in
    build | test | bench | windows | fuzz | render | lint) ;;
    *) stop "unknown purpose '$purpose' (build, test, bench, windows, fuzz, render or lint)" ;;
    esac
    list=${purpose}_packages
    read -r -a entries <<< "$(echo ${!list})"
    wanted+=("${entries[@]}")
    [ "$purpose" != test ] && [ "$purpose" != render ] || need_npm=1
done

# What is missing: one dpkg-query for all packages, then the PATH for the "package:command" ones.
declare -A installed=()
names=()
for entry in "${wanted[@]}"; do names+=("${entry%%:*}"); done
while read -r name status; do
    [ "$status" != installed ] || installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${names[@]}" 2>/dev/null || true)
missing=()
for entry in "${wanted[@]}"; do
    name=${entry%%:*}
    [ -z "${installed[$name]:-}" ] || continue
    [[ $entry != *:* ]] || ! command -v "${entry#*:}" >/dev/null || continue
    [[ " ${missing[*]} " == *" $name "* ]] || missing+=("$name")
done

if [ ${#missing[@]} -gt 0 ]; then
    by_hand="install them by hand: sudo apt-get install ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || stop "no root and no sudo to install ${missing[*]}; $by_hand"
        sudo=(sudo)
    fi
    say "installing ${missing[*]}"
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    # apt-get waits for the dpkg lock itself, but not for the package lists' lock: a run that
    # fails on a lock held by another process is retried until the wait is over.
    wait=${SETUP_LOCK_WAIT:-300}
    apt() {
        local deadline=$((SECONDS + wait))
        until "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y \
            -o "DPkg::Lock::Timeout=$wait" "$@" >"$log" 2>&1; do
            grep -q 'Could not get lock' "$log" && [ $SECONDS -lt $deadline ] || return 1
            sleep 2
        done
    }
    # Refresh the package lists only when one of the missing packages is not known to them.
    for name in "${missing[@]}"; do
        if ! apt-cache show "$name" >/dev/null 2>&1; then
            apt update || { grep "^E:" "$log" | tail -n 3 >&2; stop "apt-get update failed; $by_hand"; }
            break
        fi
    done
    apt install --no-install-recommends "${missing[@]}" ||
        { grep "^E:" "$log" | tail -n 3 >&2; stop "apt-get could not install them; $by_hand"; }
fi

if [ $need_npm -eq 1 ]; then
    for tool in $npm_tools; do
        if [ ! -d "build/npm/node_modules/$tool" ]; then
            say "installing $npm_tools into build/npm"
            mkdir -p build/npm
            npm install --no-save --no-audit --no-fund --loglevel=error --prefix build/npm \
                $npm_tools >/dev/null ||
                stop "npm could not install $npm_tools; install them by hand: npm install --prefix build/npm $npm_tools"
            break
        fi
    done
fi
