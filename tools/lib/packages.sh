# Debian packages the project needs, and a function that installs the missing
# ones. Sourced by tools/test, tools/demo and tools/bench.

MOVIK_PACKAGES=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-mysql
  libgl-dev fonts-dejavu-core
  googletest libgtest-dev
  libcpp-httplib-dev nlohmann-json3-dev libbenchmark-dev
  curl libssl-dev openssl tinyproxy acl
  postgresql sqlite3 mariadb-server-core mariadb-client-core
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql odbc-mariadb
  xvfb xauth xdotool imagemagick
  procps
  desktop-file-utils systemd dpkg-dev
)

# ensure_packages [extra package...]: installs whatever of the list (and the
# extras) is not installed yet. Needs root (or sudo) only when something is missing.
ensure_packages() {
  local wanted=("${MOVIK_PACKAGES[@]}" "$@") missing=() p
  for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing Debian packages: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}
