#!/usr/bin/env bash
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'USAGE'
Brings the translation files in i18n/ up to date with the texts of the window and the message log:
lupdate collects every text marked for translation in src/link, src/ops and src/app, keeps the
translations already made, and marks new texts as unfinished. Translate those (Qt Linguist:
linguist i18n/tarvik_en.ts) and commit the .ts file; the build compiles it.

  scripts/translations.sh           update i18n/*.ts
  scripts/translations.sh --check   fail when a text has no finished translation
USAGE
}
case "${1:-}" in -h | --help) usage; exit 0 ;; esac

ensure_packages "${BUILD_PACKAGES[@]}"
lupdate=$(command -v lupdate6 || echo /usr/lib/qt6/bin/lupdate)
for ts in i18n/*.ts; do
    "$lupdate" -silent -no-obsolete -locations none src/link src/ops src/app -ts "$ts"
done
if [ "${1:-}" = "--check" ]; then
    if grep -l 'type="unfinished"' i18n/*.ts; then
        echo "translations.sh: the files above have texts without a translation" >&2
        exit 1
    fi
fi
