# Debian packages PELNO needs, installed with apt-get only when one is missing, so a second run is fast.
# Sourced by run.sh, test.sh and the benchmark, which also use its build helpers.

PELNO_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-webengine-dev libgl-dev
    libcurl4-openssl-dev libssl-dev libuchardet-dev libicu-dev fonts-noto-cjk python3-pyftpdlib
    python3-openssl openssl iproute2 nftables vsftpd openssh-server)
PELNO_DISPLAY_PACKAGES=(xvfb xauth)
# Only tools/fuzz.sh needs these: clang with its libFuzzer and sanitizer runtimes.
PELNO_FUZZ_PACKAGES=(clang libclang-rt-dev)

pelno_ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

# pelno_configure DIR [cmake options]: a Debug build unless the options name another CMAKE_BUILD_TYPE (the later
# setting wins).
pelno_configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
}

# pelno_build DIR [cmake options]: configures and builds everything in DIR.
pelno_build() {
    pelno_configure "$@"
    ninja -C "$1" -j2
}
