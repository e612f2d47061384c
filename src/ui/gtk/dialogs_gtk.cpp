// The GTK 3 backend of the About dialog and the message box, built as a
// module of its own (quorvex/libquorvex-gtk.so, below the library's
// directory) that the library loads at the first call, so that GTK is loaded
// only into hosts that show a dialog.
//
// GTK is brought up at the first call that finds a display, on the calling
// thread, and left alone when the host has brought it up already.  Windows
// live on the default GLib main context: the calling thread's main loop
// serves the modeless About dialog; the message box runs a loop of its own.
#include <gtk/gtk.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "ui/about_layout.h"
#include "ui/module_entry.h"

namespace qv::ui {
namespace {

// True once a default display is open.  The process's locale is the host's
// business, so GTK is told not to set it.
bool gtk_ready() {
  if (gdk_display_get_default() != nullptr) return true;
  static std::once_flag keep_locale;
  std::call_once(keep_locale, [] { gtk_disable_setlocale(); });
  return gtk_init_check(nullptr, nullptr) != FALSE;
}

// GBK bytes as UTF-8 for GTK; a byte that does not begin a GBK character
// shows as "?".
std::string utf8_from_gbk(std::string_view gbk) {
  std::string out;
  GIConv cd = g_iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<GIConv>(-1)) {
    for (const char c : gbk) out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
  }
  // No GBK byte becomes more than three UTF-8 bytes (0x80 alone is the
  // euro sign), so the output always has room.
  out.resize(gbk.size() * 3);
  gchar *in = const_cast<gchar *>(gbk.data());
  gsize in_left = gbk.size();
  gchar *o = out.data();
  gsize o_left = out.size();
  while (in_left > 0) {
    if (g_iconv(cd, &in, &in_left, &o, &o_left) != static_cast<gsize>(-1)) break;
    if (errno == E2BIG || o_left == 0) break;
    // An invalid or cut-short sequence: one byte becomes "?".
    *o++ = '?';
    --o_left;
    ++in;
    --in_left;
    g_iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  g_iconv_close(cd);
  out.resize(out.size() - o_left);
  return out;
}

std::string utf8(const text::FixedText *t) { return utf8_from_gbk(t->gbk); }

std::string css_colour(SystemColour colour) {
  const Rgb rgb = default_rgb(colour);
  return "rgb(" + std::to_string(rgb.red) + "," + std::to_string(rgb.green) + "," +
         std::to_string(rgb.blue) + ")";
}

// Font families that stand in where the designed face is not installed: a
// CJK face for the Chinese one (it carries Latin letters too, as the
// designed face does), the generic sans-serif for any other.
std::string css_font(const Font &font) {
  const bool cjk = std::ranges::any_of(
      font.face->gbk, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  const char *stand_ins =
      cjk ? "\"WenQuanYi Zen Hei\", \"Noto Sans CJK SC\", sans-serif" : "sans-serif";
  return "font-family: \"" + utf8(font.face) + "\", " + stand_ins +
         "; font-size: " + std::to_string(font.height_px) +
         "px; font-weight: " + (font.bold ? "bold" : "normal") +
         "; font-style: normal; color: " + css_colour(font.colour) + ";";
}

// One style sheet for the dialog, built from the layout.  It is attached to
// the dialog's own widgets only, so that the host's windows keep their look.
std::string about_css() {
  const AboutLayout &l = kAbout;
  const std::string form = std::string("window#") + l.form.name;
  const std::string label = std::string("label#") + l.label.name;
  const std::string memo = std::string("textview#") + l.memo.name;
  return form + " { background-color: " + css_colour(l.form.colour) + "; " + css_font(l.form.font) +
         " }\n" + label + " { background-color: " + css_colour(l.label.colour) + "; " +
         css_font(l.label.font) + " padding: 0; margin: 0; }\n" +
         // The edit box: the form's font, its own background and a thin
         // frame inside its bounds.
         memo + ", " + memo + " text { background-color: " + css_colour(l.memo.colour) + "; " +
         css_font(l.form.font) + " }\n" + memo +
         " { border: 1px solid rgb(122,122,122); padding: 1px; margin: 0; }\n";
}

void style(GtkWidget *widget, GtkCssProvider *css) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void place(GtkFixed *fixed, GtkWidget *child, const Bounds &b) {
  gtk_widget_set_size_request(child, b.width, b.height);
  gtk_fixed_put(fixed, child, b.left, b.top);
}

GtkWidget *make_label(GtkCssProvider *css) {
  const AboutLabel &l = kAbout.label;
  GtkWidget *label = gtk_label_new(utf8(l.caption).c_str());
  gtk_widget_set_name(label, l.name);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
#if PANGO_VERSION_CHECK(1, 50, 0)
  // The line is as high as the label, as it is with the designed face;
  // a stand-in face with a taller line box would push the label past its
  // bounds.
  PangoAttrList *attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes,
                         pango_attr_line_height_new_absolute(l.bounds.height * PANGO_SCALE));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
#endif
  style(label, css);
  return label;
}

// A text view lays its text out inside its CSS border but does not draw
// the border; the edit box draws it itself.
gboolean draw_memo_frame(GtkWidget *memo, cairo_t *cr, gpointer) {
  if (gtk_cairo_should_draw_window(cr, gtk_widget_get_window(memo)))
    gtk_render_frame(gtk_widget_get_style_context(memo), cr, 0, 0,
                     gtk_widget_get_allocated_width(memo), gtk_widget_get_allocated_height(memo));
  return FALSE;
}

GtkWidget *make_memo(GtkCssProvider *css) {
  const AboutMemo &m = kAbout.memo;
  GtkWidget *memo = gtk_text_view_new();
  gtk_widget_set_name(memo, m.name);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(memo), TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(memo), GTK_WRAP_WORD_CHAR);
  const std::string text = utf8(m.lines[0]) + "\n" + utf8(m.lines[1]);
  GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(memo));
  gtk_text_buffer_set_text(buffer, text.c_str(), -1);
  GtkTextIter start;
  gtk_text_buffer_get_start_iter(buffer, &start);
  gtk_text_buffer_place_cursor(buffer, &start);  // as an edit box whose text was set
  style(memo, css);
  g_signal_connect_after(memo, "draw", G_CALLBACK(draw_memo_frame), nullptr);
  return memo;
}

// The frame of a dialog: it moves and closes, but neither minimises,
// maximises nor resizes.
void set_dialog_frame(GtkWidget *window) {
  gtk_widget_realize(window);
  GdkWindow *frame = gtk_widget_get_window(window);
  gdk_window_set_functions(frame, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      frame, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

bool show_about() {
  if (!gtk_ready()) return false;
  const AboutForm &f = kAbout.form;

  GtkCssProvider *css = gtk_css_provider_new();
  const std::string sheet = about_css();
  const bool parsed = gtk_css_provider_load_from_data(css, sheet.c_str(), -1, nullptr);
  if (!parsed) {
    g_object_unref(css);
    return false;
  }

  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_set_name(window, f.name);
  gtk_window_set_title(GTK_WINDOW(window), utf8(f.caption).c_str());
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_move(GTK_WINDOW(window), f.left, f.top);
  style(window, css);

  GtkWidget *client = gtk_fixed_new();
  gtk_widget_set_size_request(client, f.client_width, f.client_height);
  gtk_container_add(GTK_CONTAINER(window), client);
  GtkWidget *memo = make_memo(css);
  place(GTK_FIXED(client), make_label(css), kAbout.label.bounds);
  place(GTK_FIXED(client), memo, kAbout.memo.bounds);
  g_object_unref(css);  // the widgets' style contexts hold it now

  // The edit box comes first in the tab order, so it starts with the focus.
  gtk_window_set_focus(GTK_WINDOW(window), memo);
  set_dialog_frame(window);
  // Nothing keeps a reference: GTK owns the window, and closing it (the
  // default delete-event) destroys it.
  gtk_widget_show_all(window);
  return true;
}

bool show_message(std::string_view gbk_text) {
  const std::string text = utf8_from_gbk(gbk_text);
  if (!gtk_ready()) return false;

  GtkWidget *box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), utf8(kMessageBox.title).c_str());
  gtk_dialog_add_button(GTK_DIALOG(box), utf8(kMessageBox.button).c_str(), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  // Held across the run, in case something else destroys the box meanwhile.
  g_object_ref(box);
  gtk_dialog_run(GTK_DIALOG(box));  // whatever closed it: the button, Escape or the frame
  gtk_widget_destroy(box);
  g_object_unref(box);
  return true;
}

}  // namespace
}  // namespace qv::ui

// The module's entry points; nothing else of it is visible.
extern "C" {

__attribute__((visibility("default"))) int qv_ui_show_about() {
  try {
    return qv::ui::show_about() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

__attribute__((visibility("default"))) int qv_ui_show_message(const char *gbk_text,
                                                              std::size_t size) {
  try {
    return qv::ui::show_message(std::string_view(gbk_text ? gbk_text : "", gbk_text ? size : 0))
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"

// The entry points match the types the library calls them through.
static_assert(std::is_same_v<decltype(&qv_ui_show_about), qv::ui::ShowAboutEntry>);
static_assert(std::is_same_v<decltype(&qv_ui_show_message), qv::ui::ShowMessageEntry>);
