# Sourced by the packaging tests. check_cli_page HELP_TEXT RENDERED_PAGE: every option and
# example of the help text must appear in the rendered manual page. Options are split into
# their tag and their description, which the page puts on separate lines; blanks are
# compared loosely because the page is formatted, the help text aligned by hand.
check_cli_page() {
    local help=$1 page=$2 line tag desc missing=0
    page=$(printf '%s\n' "$page" | sed -E 's/^[[:space:]]+//; s/[[:space:]]+/ /g; s/ $//')
    local in_examples=0
    while IFS= read -r line; do
        if [[ $line == "examples:" ]]; then
            in_examples=1
            continue
        fi
        [[ -z $line ]] && continue
        if ((in_examples)); then
            if ! grep -qxF -- "$line" <<<"$page"; then
                echo "manual page lacks the example: $line"
                missing=1
            fi
        elif [[ $line =~ ^\ +(-[a-z],\ --[^ ]+)\ +(.+)$ ]]; then
            tag=${BASH_REMATCH[1]}
            desc=${BASH_REMATCH[2]}
            for want in "$tag" "$desc"; do
                if ! grep -qxF -- "$want" <<<"$page"; then
                    echo "manual page lacks the option line: $want"
                    missing=1
                fi
            done
        else
            echo "unexpected help line: $line"
            missing=1
        fi
    done <<<"$help"
    ((in_examples)) || { echo "the help text has no examples"; missing=1; }
    return $missing
}
