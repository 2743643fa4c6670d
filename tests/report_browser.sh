#!/bin/sh
# The report of examples/ in a real browser: headless Chromium prints it to a
# PDF and takes a screenshot. The PDF has pages, and its text holds the
# heading, every coefficient and standard deviation as the results file prints
# them, and the verdict. A copy of the page with a small script, laid out at
# the printed width of an A4 page (210 mm less the 14 mm margins: 688 CSS
# pixels), finds no table, figure or paragraph wider than the page.
#
#   sh tests/report_browser.sh build/tarvel1 examples
set -eu
exe=$1 examples=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$examples/control.dat" "$examples/points.dat" "$dir"
cd "$dir"
fail() { echo "report_browser: $*" >&2; exit 1; }

"$exe" --report report.html >console.txt || fail "tarvel1 --report ended with status $?"
chrome() {
  HOME=$dir chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$dir/profile" "$@" 2>>chromium.log ||
    { cat chromium.log >&2; fail "chromium $1 failed"; }
}
chrome --no-pdf-header-footer --print-to-pdf="$dir/report.pdf" "file://$dir/report.html"
chrome --window-size=794,1123 --hide-scrollbars --screenshot="$dir/report.png" "file://$dir/report.html"
[ -s report.png ] || fail "no screenshot"

pages=$(pdfinfo report.pdf | sed -n 's/^Pages: *//p')
[ "${pages:-0}" -ge 1 ] || fail "the PDF has no page"
pdftotext report.pdf - | tr -s '\n' ' ' >report.txt  # a cell's text may wrap
heading=$(head -n 1 control.dat | tr -d "'\r")
grep -qF "$heading" report.txt || fail "no heading '$heading' in the PDF"
grep -qF "Goodness of fit believable" report.txt || fail "no verdict in the PDF"
figures=$(tr -d '\r' <results.dat | sed -n 's/^ a([0-9]) *\([-.0-9]*\) *\([-.0-9]*\)$/\1 \2/p')
[ -n "$figures" ] || fail "no coefficient in results.dat"
for f in $figures; do grep -qF -- "$f" report.txt || fail "coefficient figure $f not in the PDF"; done

# Each element's right edge against the page's width, written into the DOM.
sed 's#</body>#<script>const w = document.documentElement.clientWidth; document.body.dataset.wide = [...document.querySelectorAll("table, figure, svg, h1, h2, p, li")].filter(e => e.getBoundingClientRect().right > w + 0.5 || e.scrollWidth > e.clientWidth + 1).map(e => e.tagName + "." + e.className).join(" ") + "|" + w + "|" + document.querySelectorAll("table").length;</script></body>#' \
  report.html >check.html
chrome --window-size=688,1123 --hide-scrollbars --dump-dom "file://$dir/check.html" >dom.html
layout=$(sed -n 's/.*data-wide="\([^"]*\)".*/\1/p' dom.html)
case $layout in
  "|688|"[0-9]*) ;;
  *) fail "elements wider than the page, page width, tables: '$layout'" ;;
esac
echo "report_browser: $pages pages; every table within the page; heading, coefficients and verdict in the PDF"
