#!/bin/sh
# The main job of vyn on sample data made by this project: a picture encoded
# to GP8, packed with a text file into a scrambled ARC archive, identified,
# listed and extracted, and the picture converted back to PNG: once from the
# extracted file and once straight out of the archive.
#
# Usage: host/cli/demo.sh BIN_DIR OUT_DIR
#   BIN_DIR holds vyn, vyn-sample and the plug-ins; OUT_DIR is made afresh.
set -eu

bin_given=${1:?usage: demo.sh BIN_DIR OUT_DIR}
out_given=${2:?usage: demo.sh BIN_DIR OUT_DIR}
bin=$(cd "$bin_given" && pwd)
out=$out_given

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"

# Shows each command as a user would type it, then runs it.
run() {
  printf '\n$ vyn %s\n' "$*"
  "$bin/vyn" "$@"
}

printf 'Making the sample picture and text (vyn-sample):\n'
"$bin/vyn-sample" input
ls -l input

run plugins
run encode input/sample.png -o sample.GP8
run pack -o demo.ARC --scramble sample.GP8 input/notes.txt
run identify demo.ARC sample.GP8 input/notes.txt || true
run list demo.ARC
run list demo.ARC --json
run extract demo.ARC -o extracted
run convert extracted/sample.GP8 -o sample-back.png
run convert demo.ARC -o pictures
run pack --like demo.ARC extracted -o again.ARC
if ! cmp -s demo.ARC again.ARC; then
  printf '\nThe archive packed again from its extraction differs.\n' >&2
  exit 1
fi
mkdir -p edited
printf 'Edited notes.\n' >edited/notes.txt
run update demo.ARC edited/notes.txt -o updated.ARC
run list updated.ARC

if cmp -s input/sample.png sample-back.png; then
  printf '\nThe picture came back through GP8, ARC and PNG unchanged, byte for byte.\n'
else
  printf '\nThe converted picture differs from the sample.\n' >&2
  exit 1
fi
cmp -s input/notes.txt extracted/notes.txt
if ! cmp -s sample-back.png pictures/sample.png; then
  printf '\nThe picture converted straight out of the archive differs.\n' >&2
  exit 1
fi

printf '\nResults in %s:\n' "$out"
printf '  input/           the sample picture and text\n'
printf '  sample.GP8       the picture encoded as GP8\n'
printf '  demo.ARC         the archive, directory scrambled\n'
printf '  extracted/       the members extracted from the archive\n'
printf '  sample-back.png  the extracted picture converted back to PNG\n'
printf '  again.ARC        packed --like demo.ARC from extracted/: the same bytes\n'
printf '  updated.ARC      demo.ARC with notes.txt replaced by edited/notes.txt\n'
printf '  pictures/        the archive'"'"'s pictures converted in memory, nothing extracted\n'

printf '\nTo look inside the archive in a browser (Ctrl-C stops it):\n'
printf '  %s/vyn view %s/demo.ARC\n' "$bin_given" "$out_given"
