# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for kelvane-cli: commands, options, settings keys and device names, read
# from the program's own help and device list so that they follow each version.
_kelvane_cli() {
  local cur prev words cword
  _init_completion -n = || return
  local cli=${words[0]}
  if ((cword == 1)); then
    local commands
    commands=$("$cli" help 2>/dev/null | awk '/^Commands:/ { on = 1; next } /^$/ { on = 0 } on { print $1 }')
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local command=${words[1]} help
  help=$("$cli" "$command" --help 2>/dev/null | awk '/^Options:/ { on = 1; next } /^$/ { on = 0 } on')
  # What the previous option takes, by the value name its help line shows.
  if [[ $prev == -* ]]; then
    local value
    value=$(awk -v o="$prev" '{ for (f = 1; f < NF; f++) { w = $f; sub(/,$/, "", w)
      if (w == o) { if ($(f + 1) !~ /^-/ && $(f + 1) ~ /^[A-Z]/) print $(f + 1); exit } } }' <<<"$help")
    case $value in
      "") ;;
      KEY=VALUE)
        local keys
        keys=$("$cli" render --help 2>/dev/null |
          awk '/^Settings keys/ { on = 1; next } on && /^  [A-Za-z]/ { print $1 "=" }')
        compopt -o nospace 2>/dev/null
        COMPREPLY=($(compgen -W "$keys" -- "$cur"))
        return
        ;;
      NAME\|NUMBER)
        local title=Output
        [[ $prev == --input-device || $prev == -i ]] && title=Input
        local IFS=$'\n' names k
        names=$("$cli" devices 2>/dev/null |
          awk -v t="$title devices:" '$0 == t { on = 1; next } /^[^ ]/ { on = 0 }
            on && $0 != "  (none)" { sub(/^ *[0-9]+  /, ""); print }')
        COMPREPLY=($(compgen -W "$names" -- "$cur"))
        for k in "${!COMPREPLY[@]}"; do COMPREPLY[k]=$(printf '%q' "${COMPREPLY[k]}"); done
        return
        ;;
      FILE* | OUT*)
        _filedir
        return
        ;;
      *) return ;;
    esac
  fi
  if [[ $cur == -* ]]; then
    local options
    options=$(awk '/^ +-/ { for (f = 1; f <= 2; f++) if ($f ~ /^--?[a-z]/) { sub(/,$/, "", $f); print $f } }' <<<"$help")
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  fi
}
complete -F _kelvane_cli kelvane-cli
