# The Debian package mirror this machine already uses, read from its own apt sources, so that no
# mirror's name is written into the project. Sourced by the scripts that need one:
#   . scripts/apt-mirror.sh; mirror=$(apt_mirror bookworm) || exit 1
# apt_mirror CODENAME prints the first URI that serves the release CODENAME itself (not its
# -security or -updates suites): from the `URIs:` fields of the deb822 files
# (/etc/apt/sources.list.d/*.sources), then from the `deb` lines of the one-line lists
# (/etc/apt/sources.list, /etc/apt/sources.list.d/*.list). Without one it says so on stderr and
# fails.

# deb822: blank-line separated stanzas of "Field: value"; a stanza may be switched off with
# "Enabled: no" and may list several URIs and suites.
_apt_mirror_deb822() {
  local codename=$1
  shift
  awk -v codename="$codename" '
    function flush() {
      if (types ~ /(^| )deb( |$)/ && enabled != "no") {
        n = split(suites, s, " ")
        for (i = 1; i <= n; i++) if (s[i] == codename) { split(uris, u, " "); print u[1]; exit }
      }
      types = ""; uris = ""; suites = ""; enabled = ""
    }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    {
      field = tolower($1); sub(/:$/, "", field)
      value = $0; sub(/^[^:]*:[ \t]*/, "", value)
      if (field == "types") types = value
      else if (field == "uris") uris = value
      else if (field == "suites") suites = value
      else if (field == "enabled") enabled = tolower(value)
    }
    END { flush() }
  ' "$@" 2>/dev/null | head -n 1
}

# One-line form: "deb [options] URI SUITE COMPONENT...".
_apt_mirror_one_line() {
  local codename=$1
  shift
  awk -v codename="$codename" '
    $1 != "deb" { next }
    {
      i = 2
      if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
      if ($(i + 1) == codename) { print $i; exit }
    }
  ' "$@" 2>/dev/null | head -n 1
}

apt_mirror() {
  local codename=$1 found="" files=()
  shopt -s nullglob
  files=(/etc/apt/sources.list.d/*.sources)
  ((${#files[@]} > 0)) && found=$(_apt_mirror_deb822 "$codename" "${files[@]}")
  if [[ -z $found ]]; then
    files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    found=$(_apt_mirror_one_line "$codename" "${files[@]}")
  fi
  shopt -u nullglob
  if [[ -z $found ]]; then
    echo "no apt source of this machine serves '$codename' (looked in /etc/apt/sources.list" \
      "and /etc/apt/sources.list.d/): add one, or name a mirror yourself" >&2
    return 1
  fi
  echo "${found%/}"
}
