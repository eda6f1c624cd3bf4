# The checks' results, for the scripts in this folder: `ok NAME`, `fail NAME`, and at the end
# `report TITLE`, which says how many failed and exits 1 when any did.
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
ok() { echo "ok   $*"; }
report() {
    if [ "$failures" = 0 ]; then
        echo "$1: every check passed"
    else
        echo "$1: $failures checks FAILED"
        exit 1
    fi
}
