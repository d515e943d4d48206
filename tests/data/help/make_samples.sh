#!/bin/sh
# Makes the help files written by real word processors that the reader tests
# read, from sample.md beside this script. Run once; the results are kept.
# Made with pandoc 2.17.1.1 and LibreOffice 7.4.7.2 (Debian 12).
#
#   pandoc.rtf        pandoc, Markdown to RTF
#   lo_from_odt.rtf   pandoc to ODT, then LibreOffice Writer to RTF
#   lo_from_docx.rtf  pandoc to DOCX, then LibreOffice Writer to RTF
#   lo_from_html.rtf  pandoc to HTML, then LibreOffice Writer to RTF
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pandoc -s sample.md -o pandoc.rtf
for kind in odt docx html; do
  pandoc -s sample.md -o "$work/sample.$kind"
  soffice --headless -env:UserInstallation=file://"$work/profile" \
    --convert-to rtf:"Rich Text Format" --outdir "$work/out" "$work/sample.$kind" >/dev/null
  cp "$work/out/sample.rtf" "lo_from_$kind.rtf"
done
