#!/usr/bin/env bash
# What desktops, software centres and man read of the packages, checked with the tools of
# those who read it: both desktop entries, the AppStream file and the manual pages (the
# latter in man-pages(7) order, which mandoc's lint checks). Skipped (77) where a tool is
# missing. Argument: the source tree.
set -euo pipefail
src=$1
for tool in desktop-file-validate appstreamcli mandoc; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not available"; exit 77; }
done
status=0
for entry in "$src/server/resources/tellwick-server.desktop" "$src/client/resources/tellwick-client.desktop"; do
    out=$(desktop-file-validate "$entry" 2>&1) || { echo "$entry: $out"; status=1; }
    [[ -z $out ]] || { echo "$entry: $out"; status=1; }
    grep -q '^TryExec=' "$entry" || { echo "$entry: no TryExec"; status=1; }
done
appstreamcli validate --no-net "$src/server/resources/org.tellwick.Server.metainfo.xml" ||
    status=1
for page in "$src"/man/*.1; do
    out=$(mandoc -T lint -W warning "$page" 2>&1) || true
    [[ -z $out ]] || { echo "$out"; status=1; }
done
((status == 0)) && echo "1 passed, 0 failed"
exit $status
