# Sourced by scripts that run Windows executables under Wine.
#   wine_start: a persistent wineserver and a booted prefix, so that each test
#               executable starts fast and no Wine service holds a pipe open;
#   wine_stop:  ends that wineserver.
export WINEPREFIX="${WINEPREFIX:-${HOME:-/root}/.wine-noxblegatt}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

noxb_mingw_dll_dirs() {
  local cxx=x86_64-w64-mingw32-g++-posix dirs="" f d
  for f in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    d=$(dirname "$(readlink -f "$($cxx -print-file-name=$f)")")
    case ";$dirs;" in *";$d;"*) ;; *) dirs="${dirs:+$dirs;}$d" ;; esac
  done
  printf '%s' "$dirs"
}

WINEPATH="$(noxb_mingw_dll_dirs)"
export WINEPATH

wine_start() {
  mkdir -p "$WINEPREFIX"
  # Detached, with no inherited output: it outlives the programs it serves.
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  wineboot -i </dev/null >/dev/null 2>&1 || wineboot </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}
