# Sourced by the scripts at the repository's top. install_missing_packages PACKAGE... installs those of
# Debian's packages that are not installed yet, without their recommendations, so that a script run again
# on a ready machine touches nothing and needs no network.
install_missing_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}
