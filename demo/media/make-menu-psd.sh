#!/usr/bin/env bash
# Lays the pop-up menu of the bundled sample disc out as a layered design,
# the way a designer hands one over, with GIMP in batch mode (script-fu,
# file-psd-save): menu/popup.psd, made from the button pictures of
# make-menu-media.sh (run that first). The demo imports it like
# "zelvane menu import-psd" does; the button names "TopMenu" and
# "PopUpMenuOff" give the buttons their types.
#
#   IG:PopUp
#     DS:PopUp
#       P:Pop-up
#         BOG:TopMenu
#           B:TopMenu          N:1, S:1, A:1  (menu/topmenu_n/_s/_a.png)
#         BOG:Close
#           B:PopUpMenuOff     N:1, S:1, A:1  (menu/close_n/_s/_a.png)
#
# GIMP is needed only here and is installed with apt-get when missing; the
# design is committed, so building the demo does not need it.
#
#   demo/media/make-menu-psd.sh [OUTFOLDER]   (default: this script's folder)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="$(cd "${1:-$here}" && pwd)"
for f in topmenu close; do
  for s in n s a; do
    [ -f "$out/menu/${f}_$s.png" ] || { echo "make-menu-psd: $out/menu/${f}_$s.png missing (run make-menu-media.sh)" >&2; exit 2; }
  done
done
if ! command -v gimp-console-2.10 >/dev/null && ! command -v gimp >/dev/null; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends gimp
fi
GIMP=$(command -v gimp-console-2.10 || command -v gimp)

scm="$(mktemp)"
trap 'rm -f "$scm"' EXIT
cat >"$scm" <<SCM
(define menu "$out/menu")
SCM
cat >>"$scm" <<'SCM'
(define (group img parent pos name)
  (let ((g (car (gimp-layer-group-new img))))
    (gimp-item-set-name g name)
    (gimp-image-insert-layer img g parent pos)
    g))

; The three state pictures of a button, placed at (x, y); children are
; inserted below their earlier siblings, so they read N, S, A from the top.
(define (button img parent picture x y)
  (let loop ((states '(("N:1" "_n.png") ("S:1" "_s.png") ("A:1" "_a.png"))) (pos 0))
    (if (pair? states)
        (let ((l (car (gimp-file-load-layer RUN-NONINTERACTIVE img
                                            (string-append menu "/" picture (cadar states))))))
          (gimp-image-insert-layer img l parent pos)
          (gimp-item-set-name l (caar states))
          (gimp-layer-set-offsets l x y)
          (loop (cdr states) (+ pos 1))))))

; The buttons are 400 pixels wide, 20 pixels either side of the centre,
; 900 lines down.
(let* ((img (car (gimp-image-new 1920 1080 RGB)))
       (ig (group img 0 0 "IG:PopUp"))
       (ds (group img ig 0 "DS:PopUp"))
       (page (group img ds 0 "P:Pop-up"))
       (g1 (group img page 0 "BOG:TopMenu"))
       (top (group img g1 0 "B:TopMenu"))
       (g2 (group img page 1 "BOG:Close"))
       (close (group img g2 0 "B:PopUpMenuOff")))
  (button img top "topmenu" 540 900)
  (button img close "close" 980 900)
  (let ((d (car (gimp-image-get-active-drawable img))))
    (file-psd-save RUN-NONINTERACTIVE img d (string-append menu "/popup.psd") "popup.psd" 1 0))
  (gimp-image-delete img))

(gimp-quit 0)
SCM
"$GIMP" -i -d -f --batch-interpreter=plug-in-script-fu-eval -b - <"$scm" >/dev/null
# GIMP stamps the embedded colour profile with the time of saving: clear
# the stamp so that the same pictures always give the same file.
python3 - "$out/menu/popup.psd" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = data.find(b"8BIM\x04\x0f")  # the ICC profile resource
if at >= 0:
    profile = at + 4 + 2 + 2 + 4  # signature, id, empty name, size
    data[profile + 24:profile + 36] = bytes(12)  # the profile's creation date
open(path, "wb").write(bytes(data))
PY
ls -l "$out/menu/popup.psd"
