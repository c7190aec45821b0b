#!/usr/bin/env bash
# The report in a real browser: a quick analysis of two fast models (SS_1 and SS_2) on the
# built-in data, with the test hook's tiny budgets (ZONETOOL_TEST_ANALYSE_TINY: the browser
# checks the report, not the statistics, and a real quick analysis takes minutes per model on
# a busy machine; --full drops the hook), into a directory whose name holds <, &, quotes and
# blanks; its report.html
# opened in headless Chromium, which must load it (the DOM it dumps ends with the run table),
# draw a screenshot that is not blank, and show tables that agree with analysis.json.
#
#   tests/browser/run.sh --zonetool PATH [--keep] [--full]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
zonetool=""
keep=0
tiny=1
while (($#)); do
    case "$1" in
    --zonetool)
        zonetool="$2"
        shift 2
        ;;
    --keep)
        keep=1
        shift
        ;;
    --full)
        tiny=0
        shift
        ;;
    *)
        echo "usage: tests/browser/run.sh --zonetool PATH [--keep] [--full]" >&2
        exit 2
        ;;
    esac
done
[[ -x "$zonetool" ]] || {
    echo "tests/browser/run.sh: no zonetool at '$zonetool'" >&2
    exit 2
}
zonetool="$(realpath "$zonetool")"
browser="$(command -v chromium || command -v chromium-browser || true)"
[[ -n "$browser" ]] || {
    echo "tests/browser/run.sh: chromium is not installed (scripts/install-deps --browser)" >&2
    exit 2
}
work="$(mktemp -d "${TMPDIR:-/tmp}/zonefit-browser-XXXXXX")"
((keep)) || trap 'rm -rf "$work"' EXIT
cp "$root/examples/startvec1.txt" "$root/examples/startvec2.txt" "$work/"
cd "$work"
dir="report <&> \"quoted\" 'dir'"
start=$SECONDS
if ((tiny)); then
    export ZONETOOL_TEST_ANALYSE_TINY=1
fi
"$zonetool" analyse 1,2 --effort quick --jobs 2 -o "$dir"
echo "analysis: $((SECONDS - start)) s"

start=$SECONDS
url="file://$work/$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$dir")/report.html"
flags=(--headless --no-sandbox --disable-gpu --no-first-run --disable-extensions
    --user-data-dir="$work/profile" --window-size=1200,2400)
timeout 120 "$browser" "${flags[@]}" --dump-dom "$url" >dom.html 2>chromium-dom.log
timeout 120 "$browser" "${flags[@]}" --screenshot="$work/shot.png" "$url" \
    >/dev/null 2>chromium-shot.log
echo "browser: $((SECONDS - start)) s"
python3 "$here/check_report.py" dom.html shot.png "$dir/analysis.json"
