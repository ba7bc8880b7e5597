# Shared helpers of the scripts; sourced, not run.
ORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Installs whatever scripts/packages lists and this machine lacks (needs root or sudo).
orvane_install_packages() {
    local wanted missing=()
    wanted=$(grep -v '^#' "$ORVANE_ROOT/scripts/packages" | grep -v '^$')
    for pkg in $wanted; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures (once) and builds a tree: orvane_build DIR [cmake options...]
orvane_build() {
    local dir="$1"; shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$ORVANE_ROOT" -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir"
}
