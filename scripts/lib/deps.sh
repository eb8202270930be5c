#!/usr/bin/env bash
# Installs what the cross build and the Wine tests need, only when something is missing.
# Idempotent and quiet when everything is present.
set -euo pipefail

brimlock_need_packages() {
    local pkgs=(
        g++-mingw-w64-i686-posix binutils-mingw-w64-i686
        wine wine32:i386 wine64 xvfb xdotool x11-apps imagemagick
        cmake ninja-build googletest file
        fonts-noto-cjk locales msitools wixl libxml2-utils python3-yaml
        nlohmann-json3-dev
    )
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "setup: installing ${missing[*]}" >&2
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
        fi
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >/dev/null
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
    # The Japanese UI language of the tests needs the ja_JP.UTF-8 locale.
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
        sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen 2>/dev/null || true
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
        grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
        locale-gen >/dev/null
    fi
}

# Installs those of the packages named that are not installed yet; quiet when all are.
brimlock_install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "setup: installing ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >/dev/null
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# The native build of the core (tests/native) and the fuzzer (scripts/fuzz): clang with
# its sanitizer and libFuzzer runtimes.
brimlock_need_native_packages() {
    brimlock_install_missing clang libclang-rt-14-dev
}

# The x86_64 cross compiler of the substitute test run (scripts/test-x64) on hosts that
# cannot execute 32-bit x86 code.
brimlock_need_x64_packages() {
    brimlock_install_missing g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
}

# brimlock_host_runs_i386: true unless this host refuses to execute 32-bit x86 code (a
# kernel without IA-32 emulation answers execve with ENOEXEC, "Exec format error"). Asks
# Wine's 32-bit loader, else the 32-bit dynamic loader; with neither present the answer is
# yes, so that nothing changes where nothing can be probed. On "no", BRIMLOCK_I386_REASON
# tells why (the kernel's line when dmesg is readable).
brimlock_host_runs_i386() {
    local probe out rc
    BRIMLOCK_I386_REASON=""
    for probe in /usr/lib/wine/wine /lib/ld-linux.so.2; do
        [[ -x "$probe" ]] || continue
        rc=0
        out="$( { "$probe" --version; } 2>&1 >/dev/null )" || rc=$?
        if [[ $rc -eq 126 || "$out" == *"Exec format error"* ]]; then
            BRIMLOCK_I386_REASON="$probe: Exec format error"
            local line
            line="$(dmesg 2>/dev/null | grep -m1 -i 'IA-32 emulation' | sed 's/^\[[^]]*\] *//')" || true
            [[ -n "$line" ]] && BRIMLOCK_I386_REASON+=$'\n'"kernel: $line"
            return 1
        fi
        return 0
    done
    return 0
}
