#!/usr/bin/env bash
# The man pages and the programs' --help say the same: every option (and for evbctl every command
# and exit status) of the usage text has its entry in the man page, and the man page has no entry
# the program does not know.
#   check_manpages.sh BIN_DIR MAN_DIR
set -euo pipefail
BIN=$1
MAN=$2
status=0

# The entry headings of a man page section: the line after each .TP.
headings() { # FILE SECTION
    awk -v section="$2" '/^\.SH/ { insec = ($0 ~ "^\\.SH \"?" section) } insec && tp { print } { tp = ($0 == ".TP") }' "$1" |
        sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/"//g'
}
man_options() { headings "$1" "(OPTIONS|COMMANDS)" | grep -oE -- '--[a-z][a-z-]*' | sort -u; }
help_options() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }

compare() { # WHAT HELP_LIST MAN_LIST PENDING
    local only_help only_man
    only_help=$(comm -23 <(echo "$2" | sort -u) <(echo "$3" | sort -u) | grep . || true)
    only_man=$(comm -13 <(echo "$2" | sort -u) <(echo "$3" | sort -u) | grep . |
        grep -vxF -f <(printf '%s\n' $4 --help) || true)
    if [ -n "$only_help" ]; then
        echo "FAIL $1: in --help, not in the man page:" $only_help
        status=1
    fi
    if [ -n "$only_man" ]; then
        echo "FAIL $1: in the man page, not in --help:" $only_man
        status=1
    fi
    [ -z "$only_help$only_man" ] && echo "ok   $1"
    return 0
}

help=$(QT_QPA_PLATFORM=offscreen "$BIN/evbconsole" --help)
compare "evbconsole options" "$(help_options <<<"$help")" "$(man_options "$MAN/evbconsole.1")" ""

help=$("$BIN/evbsim" --help)
compare "evbsim options" "$(help_options <<<"$help"; echo --help)" "$(man_options "$MAN/evbsim.1")" ""

help=$("$BIN/evbctl" --help)
compare "evbctl options" "$(help_options <<<"$help"; echo --help)" "$(man_options "$MAN/evbctl.1")" ""
help_commands=$(sed -n '/^commands:/,/^$/p' <<<"$help" | grep -oE '^  [a-z]+' | tr -d ' ')
man_commands=$(headings "$MAN/evbctl.1" COMMANDS | awk '{ print $2 }')
compare "evbctl commands" "$help_commands" "$man_commands" ""
help_exits=$(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '(^|: |, )[0-9]+ [a-z]' | grep -oE '[0-9]+')
man_exits=$(headings "$MAN/evbctl.1" "EXIT STATUS" | awk '{ print $2 }')
compare "evbctl exit statuses" "$help_exits" "$man_exits" ""
exit $status
