#!/usr/bin/env bash
# The manual pages as they stand in the source tree: they format without errors, and the
# command-line sender's page carries every option and example of the program's help text.
# Arguments: the folder of the pages, the built tellwick_cli.
set -euo pipefail
pages=$1
cli=$2
command -v man >/dev/null && command -v groff >/dev/null || {
    echo "SKIP: man and groff are needed"
    exit 77
}
source "$(dirname "$0")/man_check.sh"

status=0
for page in "$pages"/*.1; do
    # groff reports syntax and macro errors on standard error; an over-long line it cannot
    # adjust is a matter of taste, not an error.
    errors=$(groff -man -ww -z "$page" 2>&1 | grep -v 'cannot adjust line' || true)
    if [[ -n $errors ]]; then
        echo "$page: $errors"
        status=1
    fi
done

help=$("$cli" --help)
rendered=$(MANWIDTH=200 man -l -P cat "$pages/tellwick_cli.1" 2>/dev/null)
check_cli_page "$help" "$rendered" || status=1
exit $status
