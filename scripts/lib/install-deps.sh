# Installs the Debian packages the build needs, when one of them is missing. Sourced by scripts.
# Packaging and its checks need file (cpack), lintian and systemd (systemd-analyze; it need not run).
install_deps() {
    # ZeroMQ and iceoryx (with its RouDi daemon) are what transport_bench compares calls against.
    local packages=(build-essential cmake ninja-build g++ clang libclang-rt-14-dev googletest
        libgtest-dev libgmock-dev libbenchmark-dev antlr libantlr-dev libsystemd-dev pkgconf
        file lintian systemd libzmq3-dev libiceoryx-posh-dev iceoryx libcpp-httplib-dev
        nlohmann-json3-dev libcli11-dev chromium wrk curl)
    local missing=()
    # The parser generator runs on Java; the machine may ship a JDK outside Debian's packages.
    command -v java >/dev/null 2>&1 || missing+=(default-jre-headless)
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "== installing: ${missing[*]} =="
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}
