# Shared by the project's scripts: finding interpreters and installing what the build needs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_QUIET=1

# find_python 3.13 -> path of a CPython 3.13 interpreter
find_python() {
  local v="$1" root c
  root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
  for c in "$root"/versions/"$v"*/bin/python"$v" "$(command -v "python$v" 2>/dev/null || true)"; do
    if [ -x "$c" ] && "$c" -c "import sys; sys.exit(sys.version_info[:2] != tuple(map(int, '$v'.split('.'))))" 2>/dev/null; then
      echo "$c"; return 0
    fi
  done
  echo "CPython $v not found (pyenv install $v)" >&2; return 1
}

# apt_need <header-or-binary-path> <debian packages...>: installs when missing and running as root
apt_need() {
  local probe="$1"; shift
  [ -e "$probe" ] && return 0
  if [ "$(id -u)" = 0 ]; then
    if [ ! -f /tmp/.heliodex-apt-updated ]; then apt-get update -qq && touch /tmp/.heliodex-apt-updated; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
  else
    echo "missing $probe: install $* (sudo apt-get install $*)" >&2; return 1
  fi
}

# make_venv <dir> <python> <pip args...>: a virtual environment with the given packages
make_venv() {
  local dir="$1" py="$2"; shift 2
  [ -x "$dir/bin/python" ] || "$py" -m venv "$dir"
  "$dir/bin/python" -m pip install "$@"
}
