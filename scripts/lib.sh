# Shared by the scripts: installing missing Debian packages.

# need_packages PACKAGE...: installs those not yet installed. As root it uses
# apt-get; otherwise it names what is missing and fails.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (install them, or run as root)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  if [ -z "${DRAVOLIN_APT_UPDATED:-}" ]; then
    apt-get update -q
    export DRAVOLIN_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build_jobs() { nproc 2>/dev/null || echo 2; }
