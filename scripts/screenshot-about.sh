#!/usr/bin/env bash
# Renders the About dialog under Xvfb into PNG files in the build folder,
# so that people can look at it:
#   about-screen.png  the whole 1024x768 screen, showing where the dialog sits
#   about-dialog.png  the dialog alone (no window manager runs, so no frame)
# Usage: scripts/screenshot-about.sh [build-folder]   (default: build/ or
# $QUORVEX_BUILD_DIR).  Needs xvfb, x11-apps, netpbm and a C compiler, and a
# build of the library with GTK.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${QUORVEX_BUILD_DIR:-$root/build}}" && pwd)
lib_dir=$build/src
[ -e "$lib_dir/libquorvex.so" ] || { echo "no $lib_dir/libquorvex.so: build first" >&2; exit 1; }
for tool in Xvfb xwd xwdtopnm pnmtopng pnmcut pkg-config cc; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid= host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A host that opens the dialog, says "ready" once the dialog has been drawn
# and the server has every request, then serves it until it is killed.
cat >"$work/host.c" <<'EOF'
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <quorvex.h>

static gboolean report(gpointer data) {
  (void)data;
  gdk_display_sync(gdk_display_get_default());
  printf("ready\n");
  fflush(stdout);
  return G_SOURCE_REMOVE;
}

static gboolean drawn(GtkWidget *w, cairo_t *cr, gpointer data) {
  (void)cr;
  (void)data;
  g_signal_handlers_disconnect_by_func(w, drawn, NULL);
  g_idle_add(report, NULL);
  return FALSE;
}

int main(void) {
  if (!gtk_init_check(NULL, NULL)) return 2;
  if (ShowAbout() != 1) return 3;
  GList *all = gtk_window_list_toplevels();
  for (GList *l = all; l; l = l->next)
    if (strcmp(gtk_widget_get_name(l->data), "FormAbout") == 0)
      g_signal_connect_after(l->data, "draw", G_CALLBACK(drawn), NULL);
  g_list_free(all);
  gtk_main();
  return 0;
}
EOF
# shellcheck disable=SC2046
cc -o "$work/host" "$work/host.c" -I"$root/include" $(pkg-config --cflags --libs gtk+-3.0) \
  -L"$lib_dir" -lquorvex -Wl,-rpath,"$lib_dir"

# Xvfb picks a free display number and writes it once it accepts clients.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <"$work/displayfd" || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }

mkfifo "$work/ready"
DISPLAY=:$display NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory "$work/host" >"$work/ready" &
host_pid=$!
read -r -t 20 line <"$work/ready" && [ "$line" = ready ] || { echo "the host did not show the dialog" >&2; exit 1; }

xwd -root -silent -display ":$display" | xwdtopnm 2>/dev/null >"$work/screen.ppm"
pnmtopng "$work/screen.ppm" >"$build/about-screen.png"
# The dialog's place and client area (426,297 and 285x151).
pnmcut -left 426 -top 297 -width 285 -height 151 "$work/screen.ppm" | pnmtopng >"$build/about-dialog.png"
echo "$build/about-screen.png"
echo "$build/about-dialog.png"
