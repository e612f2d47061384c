// The About dialog and the message box, through the public header, under an
// X server of the test process's own (Xvfb).  The library's windows are
// GTK windows of this process, so the tests read them back through GTK: the
// X server's view of them (place, size, hints), the widgets (texts, fonts,
// colours, flags) and the pixels they drew.
#include <quorvex.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <dlfcn.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gbk.h"
#include "missing.h"
#include "xvfb.h"

extern char **environ;

namespace {

using qvtest::gbk;

// ---------------------------------------------------------------------------
// Probes: started as a child process with QV_UI_PROBE=<name> in its
// environment, this program runs that probe before anything else (GTK
// untouched, as in a host that does not use it) and reports through its
// exit status, 0 when all went as expected.  An alarm ends a probe that
// blocks.

// Without a display: both exports return 0.
int probe_without_display(const char *display) {
  if (display)
    setenv("DISPLAY", display, 1);
  else
    unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("GDK_BACKEND", "x11", 1);
  int status = 0;
  if (ShowAbout() != 0) status |= 1;
  if (ShowMsg(nullptr) != 0) status |= 2;
  if (ShowMsg("text") != 0) status |= 4;
  return status;
}

// With a display, in a process still in the C locale whose environment
// names another: the dialog opens, and the process keeps its locale.
int probe_keeps_locale() {
  setenv("LC_ALL", "C.UTF-8", 1);
  const std::string before = setlocale(LC_ALL, nullptr);
  int status = 0;
  if (ShowAbout() != 1) status |= 1;
  if (before != setlocale(LC_ALL, nullptr)) status |= 2;
  return status;
}

// A host that loads the library by a relative path and then changes its
// directory: the dialog module is still looked for beside the library, not
// in the new current directory.  QV_UI_DIR holds lib/ (a copy of the
// library, no module) and cwd/ (a planted module where the library's
// directory would hold it, and one directly in it).  Bit 0: a plant was
// loaded; bit 1: the library could not be loaded.
int probe_relative_library() {
  unsetenv("DISPLAY");
  const std::string dir = std::getenv("QV_UI_DIR");
  if (chdir((dir + "/lib").c_str()) != 0) return 2;
  void *library = dlopen("./libquorvex.so", RTLD_NOW | RTLD_LOCAL);
  auto show_about =
      library ? reinterpret_cast<qv_bool (*)()>(dlsym(library, "ShowAbout")) : nullptr;
  if (!show_about || chdir((dir + "/cwd").c_str()) != 0) return 2;
  show_about();
  std::ifstream maps("/proc/self/maps");
  const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
  return mapped.find(dir + "/cwd/") != std::string::npos ? 1 : 0;
}

const int probe_status = [] {
  const char *probe = std::getenv("QV_UI_PROBE");
  if (probe == nullptr) return 0;
  alarm(20);
  const std::string name = probe;
  unsetenv("QV_UI_PROBE");
  _exit(name == "no-display"         ? probe_without_display(nullptr)
        : name == "unserved-display" ? probe_without_display(":65000")
        : name == "keeps-locale"     ? probe_keeps_locale()
        : name == "relative-library" ? probe_relative_library()
                                     : 100);
}();

// Runs this program as the named probe; its wait status.
int run_probe(const std::string &name) {
  const std::string setting = "QV_UI_PROBE=" + name;
  std::vector<char *> envp;
  for (char **e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(const_cast<char *>(setting.c_str()));
  envp.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char *argv[] = {self, nullptr};
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, envp.data()) == 0) waitpid(pid, &status, 0);
  return status;
}

// ---------------------------------------------------------------------------
// An X server of the process's own, for every test of the process.

class XvfbServer : public ::testing::Environment {
 public:
  static bool running() { return server_.running(); }

  // Leaves running() false where Xvfb is missing or fails to start.
  void SetUp() override {
    if (!server_.start()) return;
    setenv("DISPLAY", server_.display().c_str(), 1);
    // X11 only, no accessibility bus and no settings daemon: nothing of the
    // developer's desktop leaks into the tests.
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    // A dark theme, far from the dialog's own colours: whatever the dialog
    // leaves to the theme shows up.
    setenv("GTK_THEME", "Adwaita:dark", 1);
  }

  // GTK keeps its connection to the end of the process; it does no more
  // I/O on it once the tests are over.
  void TearDown() override { server_.stop(); }

 private:
  static inline qvtest::Xvfb server_;
};

::testing::Environment *const xvfb_environment =
    ::testing::AddGlobalTestEnvironment(new XvfbServer);

// ---------------------------------------------------------------------------
// Reading windows back

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Rgb &c) {
  return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

Rgb rgb(const GdkRGBA &c) {
  return {static_cast<int>(c.red * 255 + 0.5), static_cast<int>(c.green * 255 + 0.5),
          static_cast<int>(c.blue * 255 + 0.5)};
}

Rgb text_colour(GtkWidget *w) {
  GdkRGBA c;
  gtk_style_context_get_color(gtk_widget_get_style_context(w), GTK_STATE_FLAG_NORMAL, &c);
  return rgb(c);
}

Rgb background(GtkWidget *w) {
  GdkRGBA *c = nullptr;
  gtk_style_context_get(gtk_widget_get_style_context(w), GTK_STATE_FLAG_NORMAL,
                        GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &c, nullptr);
  const Rgb result = c->alpha > 0.99 ? rgb(*c) : Rgb{-1, -1, -1};  // -1: not opaque
  gdk_rgba_free(c);
  return result;
}

struct FontSeen {
  std::string family;  // the first family of the list
  double pixels;       // the em size in pixels
  int weight;
  PangoStyle style;
};

FontSeen font_of(GtkWidget *w) {
  PangoFontDescription *d = nullptr;
  gtk_style_context_get(gtk_widget_get_style_context(w), GTK_STATE_FLAG_NORMAL,
                        GTK_STYLE_PROPERTY_FONT, &d, nullptr);
  FontSeen f;
  const std::string families = pango_font_description_get_family(d);
  f.family = families.substr(0, families.find(','));
  const double size = pango_font_description_get_size(d) / double(PANGO_SCALE);
  f.pixels = pango_font_description_get_size_is_absolute(d) ? size : size * 96.0 / 72.0;
  f.weight = pango_font_description_get_weight(d);
  f.style = pango_font_description_get_style(d);
  pango_font_description_free(d);
  return f;
}

// Every widget of the tree, internal children included.
void add_tree(GtkWidget *widget, gpointer out) {
  static_cast<std::vector<GtkWidget *> *>(out)->push_back(widget);
  if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), add_tree, out);
}
std::vector<GtkWidget *> find_all(GtkWidget *root, GType type) {
  std::vector<GtkWidget *> all, found;
  add_tree(root, &all);
  for (GtkWidget *w : all)
    if (G_TYPE_CHECK_INSTANCE_TYPE(w, type)) found.push_back(w);
  return found;
}
GtkWidget *find_named(GtkWidget *root, const char *name) {
  for (GtkWidget *w : find_all(root, GTK_TYPE_WIDGET))
    if (std::strcmp(gtk_widget_get_name(w), name) == 0) return w;
  return nullptr;
}

std::vector<GtkWidget *> toplevels_named(const char *name) {
  std::vector<GtkWidget *> out;
  GList *all = gtk_window_list_toplevels();
  for (GList *l = all; l; l = l->next)
    if (std::strcmp(gtk_widget_get_name(GTK_WIDGET(l->data)), name) == 0)
      out.push_back(GTK_WIDGET(l->data));
  g_list_free(all);
  return out;
}

// Runs the main loop until done() holds; false when it has not within 10 s.
bool run_until(const std::function<bool()> &done) {
  bool expired = false;
  const guint timer = g_timeout_add_seconds(
      10, [](gpointer flag) { return *static_cast<bool *>(flag) = true, G_SOURCE_REMOVE; },
      &expired);
  while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
  if (!expired) g_source_remove(timer);
  return done();
}

// Runs the main loop until the window has been drawn again and the X server
// has every request.
bool wait_for_draw(GtkWidget *window) {
  bool drawn = false;
  const gulong handler =
      g_signal_connect_after(window, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer flag) {
                               *static_cast<bool *>(flag) = true;
                               return FALSE;
                             }),
                             &drawn);
  const bool ok = run_until([&] { return drawn; });
  g_signal_handler_disconnect(window, handler);
  gdk_display_sync(gdk_display_get_default());
  return ok;
}

// The place of a window on the screen, as the X server has it.
struct Place {
  int x, y, width, height;
};

Place place_of(GtkWidget *window) {
  GdkWindow *w = gtk_widget_get_window(window);
  Place p{};
  gdk_window_get_origin(w, &p.x, &p.y);
  p.width = gdk_window_get_width(w);
  p.height = gdk_window_get_height(w);
  return p;
}

// Where a widget lies inside its toplevel's client area, and its size.
Place bounds_in_window(GtkWidget *child) {
  Place p{};
  gtk_widget_translate_coordinates(child, gtk_widget_get_toplevel(child), 0, 0, &p.x, &p.y);
  p.width = gtk_widget_get_allocated_width(child);
  p.height = gtk_widget_get_allocated_height(child);
  return p;
}

// A window property as the X server holds it, as 32-bit items.
std::vector<long> x_property(GtkWidget *window, const char *name) {
  GdkAtom type;
  gint format = 0, length = 0;
  guchar *data = nullptr;
  std::vector<long> items;
  if (gdk_property_get(gtk_widget_get_window(window), gdk_atom_intern(name, FALSE), GDK_NONE, 0, 64,
                       FALSE, &type, &format, &length, &data) &&
      format == 32) {
    const long *longs = reinterpret_cast<const long *>(data);
    items.assign(longs, longs + length / sizeof(long));
  }
  g_free(data);
  return items;
}

std::string buffer_text(GtkWidget *text_view) {
  GtkTextBuffer *b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_view));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(b, &start, &end);
  gchar *t = gtk_text_buffer_get_text(b, &start, &end, FALSE);
  std::string s = t;
  g_free(t);
  return s;
}

// The pixels of a window's client area as the X server shows them.
class Pixels {
 public:
  explicit Pixels(GtkWidget *window) {
    GdkWindow *w = gtk_widget_get_window(window);
    pixbuf_ =
        gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
  }
  ~Pixels() {
    if (pixbuf_) g_object_unref(pixbuf_);
  }
  bool valid() const { return pixbuf_ != nullptr; }
  Rgb at(int x, int y) const {
    const guchar *p = gdk_pixbuf_get_pixels(pixbuf_) + y * gdk_pixbuf_get_rowstride(pixbuf_) +
                      x * gdk_pixbuf_get_n_channels(pixbuf_);
    return {p[0], p[1], p[2]};
  }
  // The smallest rectangle that holds every pixel of the colour.
  std::optional<Place> extent_of(Rgb colour) const {
    int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
    for (int y = 0; y < gdk_pixbuf_get_height(pixbuf_); ++y)
      for (int x = 0; x < gdk_pixbuf_get_width(pixbuf_); ++x)
        if (at(x, y) == colour)
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    if (x1 < 0) return std::nullopt;
    return Place{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  }

 private:
  GdkPixbuf *pixbuf_ = nullptr;
};

constexpr Rgb kButtonFace{0xf0, 0xf0, 0xf0};
constexpr Rgb kMenu{0xf0, 0xf0, 0xf0};
constexpr Rgb kHotLight{0x00, 0x66, 0xcc};
constexpr Rgb kWindow{0xff, 0xff, 0xff};
constexpr Rgb kWindowText{0x00, 0x00, 0x00};

// Each test starts with a display and GTK up, and closes what it opened.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XvfbServer::running()) {
      if (qvtest::find_program("Xvfb").empty())
        QV_MISSING("xvfb", "Xvfb (Debian package xvfb) is not installed: no window tests");
      FAIL() << "Xvfb is installed but did not start";
    }
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  }
  void TearDown() override {
    for (GtkWidget *w : toplevels_named("FormAbout")) gtk_widget_destroy(w);
  }

  // Calls ShowAbout and returns the dialog that it opened, once the X
  // server shows it and GTK has drawn it.
  GtkWidget *show_about() {
    std::set<GtkWidget *> before;
    for (GtkWidget *w : toplevels_named("FormAbout")) before.insert(w);
    EXPECT_EQ(1, ShowAbout());
    GtkWidget *opened = nullptr;
    for (GtkWidget *w : toplevels_named("FormAbout"))
      if (!before.count(w)) {
        EXPECT_EQ(nullptr, opened) << "one call opened two dialogs";
        opened = w;
      }
    if (!opened) return nullptr;
    // Open already, before any event was served.
    EXPECT_TRUE(gtk_widget_get_visible(opened));
    EXPECT_TRUE(wait_for_draw(opened)) << "the dialog was never drawn";
    return opened;
  }
};

// ---------------------------------------------------------------------------
// The About dialog

TEST_F(DialogTest, AboutWindowIsAFixedDialogAtItsDesignedPlace) {
  GtkWidget *dialog = show_about();
  ASSERT_NE(nullptr, dialog);

  const Place p = place_of(dialog);
  EXPECT_EQ(426, p.x);
  EXPECT_EQ(297, p.y);
  EXPECT_EQ(285, p.width);
  EXPECT_EQ(151, p.height);
  EXPECT_STREQ("FormAbout", gtk_window_get_title(GTK_WINDOW(dialog)));

  EXPECT_EQ(GDK_WINDOW_TYPE_HINT_DIALOG, gtk_window_get_type_hint(GTK_WINDOW(dialog)));
  const std::vector<long> type = x_property(dialog, "_NET_WM_WINDOW_TYPE");
  ASSERT_EQ(1u, type.size());
  // GDK hands atoms back as its own atoms.
  EXPECT_EQ(reinterpret_cast<long>(gdk_atom_intern("_NET_WM_WINDOW_TYPE_DIALOG", FALSE)), type[0]);

  // Fixed size: the window manager is told that the least and the most
  // size are both the client area.
  EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(dialog)));
  const std::vector<long> size_hints = x_property(dialog, "WM_NORMAL_HINTS");
  ASSERT_GE(size_hints.size(), 9u);
  constexpr long kMinSize = 1 << 4, kMaxSize = 1 << 5;
  EXPECT_EQ(kMinSize | kMaxSize, size_hints[0] & (kMinSize | kMaxSize));
  EXPECT_EQ((std::vector<long>{285, 151, 285, 151}),
            std::vector<long>(size_hints.begin() + 5, size_hints.begin() + 9));

  // Motif hints: it moves and closes; it neither resizes, minimises nor
  // maximises, and its frame has no such boxes.
  const std::vector<long> motif = x_property(dialog, "_MOTIF_WM_HINTS");
  ASSERT_GE(motif.size(), 3u);
  constexpr long kHasFunctions = 1, kHasDecorations = 2;
  EXPECT_EQ(kHasFunctions | kHasDecorations, motif[0] & (kHasFunctions | kHasDecorations));
  constexpr long kFuncAll = 1, kFuncResize = 2, kFuncMove = 4, kFuncMinimize = 8,
                 kFuncMaximize = 16, kFuncClose = 32;
  EXPECT_EQ(kFuncMove | kFuncClose, motif[1] & (kFuncAll | kFuncResize | kFuncMove | kFuncMinimize |
                                                kFuncMaximize | kFuncClose));
  constexpr long kDecorAll = 1, kDecorTitle = 8, kDecorMinimize = 32, kDecorMaximize = 64;
  EXPECT_EQ(kDecorTitle, motif[2] & (kDecorAll | kDecorTitle | kDecorMinimize | kDecorMaximize));
}

TEST_F(DialogTest, Label1HasItsOwnBoundsFontAndColours) {
  GtkWidget *dialog = show_about();
  ASSERT_NE(nullptr, dialog);
  GtkWidget *label = find_named(dialog, "Label1");
  ASSERT_NE(nullptr, label);
  ASSERT_TRUE(GTK_IS_LABEL(label));

  EXPECT_STREQ("DLL介绍", gtk_label_get_text(GTK_LABEL(label)));
  const Place b = bounds_in_window(label);
  EXPECT_EQ(96, b.x);
  EXPECT_EQ(8, b.y);
  EXPECT_EQ(80, b.width);
  EXPECT_EQ(21, b.height);

  const FontSeen f = font_of(label);
  EXPECT_EQ("宋体", f.family);
  EXPECT_NEAR(21.0, f.pixels, 0.01);
  EXPECT_EQ(PANGO_WEIGHT_BOLD, f.weight);
  EXPECT_EQ(PANGO_STYLE_NORMAL, f.style);
  EXPECT_EQ(kHotLight, text_colour(label));
  EXPECT_EQ(kMenu, background(label));

  // The caption is drawn in the hot-light colour, inside the label's bounds
  // and nowhere else (a stand-in face's glyphs may reach a pixel beyond the
  // line box).
  Pixels pixels(dialog);
  ASSERT_TRUE(pixels.valid());
  const std::optional<Place> text = pixels.extent_of(kHotLight);
  ASSERT_TRUE(text.has_value()) << "no pixel of the caption's colour";
  EXPECT_GE(text->x, 96);
  EXPECT_GE(text->y, 8 - 1);
  EXPECT_LE(text->x + text->width, 96 + 80);
  EXPECT_LE(text->y + text->height, 8 + 21 + 1);
  // A bold 21-pixel caption is far more than a few stray pixels high.
  EXPECT_GE(text->height, 12);
}

TEST_F(DialogTest, Memo1IsAnEditBoxWithTheTwoLinesInTheFormsFont) {
  GtkWidget *dialog = show_about();
  ASSERT_NE(nullptr, dialog);
  GtkWidget *memo = find_named(dialog, "Memo1");
  ASSERT_NE(nullptr, memo);
  ASSERT_TRUE(GTK_IS_TEXT_VIEW(memo));

  EXPECT_EQ("该Quorvex是专为方便客户端开发而设\n计的,目前版本为1.0,,欢迎使用。", buffer_text(memo));
  const Place b = bounds_in_window(memo);
  EXPECT_EQ(40, b.x);
  EXPECT_EQ(40, b.y);
  EXPECT_EQ(217, b.width);
  EXPECT_EQ(81, b.height);

  EXPECT_TRUE(gtk_text_view_get_editable(GTK_TEXT_VIEW(memo)));
  EXPECT_NE(GTK_WRAP_NONE, gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(memo)));
  EXPECT_EQ(nullptr, gtk_widget_get_ancestor(memo, GTK_TYPE_SCROLLED_WINDOW));
  EXPECT_TRUE(find_all(dialog, GTK_TYPE_SCROLLBAR).empty());
  // First in the tab order, so it has the focus.
  EXPECT_EQ(memo, gtk_window_get_focus(GTK_WINDOW(dialog)));

  // The form's font: it has none of its own.
  const FontSeen f = font_of(memo);
  EXPECT_EQ("MS Sans Serif", f.family);
  EXPECT_NEAR(11.0, f.pixels, 0.01);
  EXPECT_EQ(PANGO_WEIGHT_NORMAL, f.weight);
  EXPECT_EQ(kWindowText, text_colour(memo));
  EXPECT_EQ(kWindow, background(memo));

  // The form's own face, and the edit box's face and text as drawn.
  Pixels pixels(dialog);
  ASSERT_TRUE(pixels.valid());
  EXPECT_EQ(kButtonFace, pixels.at(5, 5));
  EXPECT_EQ(kButtonFace, pixels.at(284, 150));
  EXPECT_EQ(kWindow, pixels.at(40 + 200, 40 + 70));
  const std::optional<Place> text = pixels.extent_of(kWindowText);
  ASSERT_TRUE(text.has_value()) << "no text drawn";
  EXPECT_GE(text->x, 40);
  EXPECT_GE(text->y, 40);
  EXPECT_LE(text->x + text->width, 40 + 217);
  EXPECT_LE(text->y + text->height, 40 + 81);
  EXPECT_GE(text->height, 16) << "two lines of text";
}

TEST_F(DialogTest, TypingALongLineWrapsItInsteadOfGrowingTheDialog) {
  GtkWidget *dialog = show_about();
  ASSERT_NE(nullptr, dialog);
  GtkWidget *memo = find_named(dialog, "Memo1");
  ASSERT_NE(nullptr, memo);
  GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(memo));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_insert(buffer, &end,
                         "\nwrapped wrapped wrapped wrapped wrapped wrapped wrapped wrapped", -1);
  ASSERT_TRUE(wait_for_draw(dialog));

  EXPECT_EQ(217, gtk_widget_get_allocated_width(memo));
  EXPECT_EQ(81, gtk_widget_get_allocated_height(memo));
  const Place p = place_of(dialog);
  EXPECT_EQ(285, p.width);
  EXPECT_EQ(151, p.height);
  // The third buffer line takes more than one line on screen.
  GtkTextIter third;
  gtk_text_buffer_get_iter_at_line(buffer, &third, 2);
  GtkTextIter next_display_line = third;
  ASSERT_TRUE(gtk_text_view_forward_display_line(GTK_TEXT_VIEW(memo), &next_display_line));
  EXPECT_EQ(2, gtk_text_iter_get_line(&next_display_line)) << "the long line was not wrapped";
}

TEST_F(DialogTest, EveryCallOpensAnIndependentDialogAtTheSamePlace) {
  GtkWidget *first = show_about();
  GtkWidget *second = show_about();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  ASSERT_NE(first, second);
  for (GtkWidget *dialog : {first, second}) {
    const Place p = place_of(dialog);
    EXPECT_EQ(426, p.x);
    EXPECT_EQ(297, p.y);
  }
  EXPECT_NE(find_named(first, "Memo1"), find_named(second, "Memo1"));

  // Closing one takes it away and leaves the other open.
  bool destroyed = false;
  g_signal_connect(first, "destroy", G_CALLBACK(+[](GtkWidget *, gpointer flag) {
                     *static_cast<bool *>(flag) = true;
                   }),
                   &destroyed);
  gtk_window_close(GTK_WINDOW(first));
  ASSERT_TRUE(run_until([&] { return destroyed; })) << "closing did not take the dialog away";
  const std::vector<GtkWidget *> left = toplevels_named("FormAbout");
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(second, left[0]);
  EXPECT_TRUE(gtk_widget_get_mapped(second));
}

// ---------------------------------------------------------------------------
// The message box

// What the message box showed, seen from inside its modal loop.
struct BoxSeen {
  bool seen = false;
  std::string title, text;
  size_t extra_labels = 0;
  std::vector<std::string> buttons;
  bool modal = false, icon = false;
  Place place{};
};

BoxSeen *box_seen = nullptr;

// Looks at a message box once it is on screen, then presses its button.
gboolean inspect_and_close(gpointer data) {
  GtkWidget *box = GTK_WIDGET(data);
  BoxSeen &seen = *box_seen;
  seen.seen = true;
  seen.title = gtk_window_get_title(GTK_WINDOW(box)) ? gtk_window_get_title(GTK_WINDOW(box)) : "";
  // The texts as the labels of the box show them.
  std::vector<std::string> shown;
  for (GtkWidget *label :
       find_all(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box)), GTK_TYPE_LABEL))
    if (gtk_widget_get_visible(label)) shown.push_back(gtk_label_get_text(GTK_LABEL(label)));
  seen.text = shown.empty() ? "(no label)" : shown[0];
  seen.extra_labels = shown.size() > 1 ? shown.size() - 1 : 0;
  seen.modal = gtk_window_get_modal(GTK_WINDOW(box));
  for (GtkWidget *image : find_all(box, GTK_TYPE_IMAGE))
    seen.icon |= gtk_widget_get_visible(image) != FALSE;
  GtkWidget *press = nullptr;
  for (GtkWidget *b : find_all(box, GTK_TYPE_BUTTON))
    if (gtk_widget_get_visible(b)) {
      seen.buttons.push_back(
          gtk_button_get_label(GTK_BUTTON(b)) ? gtk_button_get_label(GTK_BUTTON(b)) : "");
      press = b;
    }
  gdk_display_sync(gdk_display_get_default());
  seen.place = place_of(box);
  if (press)
    gtk_button_clicked(GTK_BUTTON(press));
  else
    gtk_widget_destroy(box);
  g_object_unref(box);
  return G_SOURCE_REMOVE;
}

// A message box that has been mapped is inspected and closed from the main
// loop that ShowMsg runs.
gboolean on_map(GSignalInvocationHint *, guint, const GValue *params, gpointer) {
  GObject *widget = G_OBJECT(g_value_get_object(&params[0]));
  if (GTK_IS_MESSAGE_DIALOG(widget)) g_timeout_add(0, inspect_and_close, g_object_ref(widget));
  return TRUE;
}

class MessageBoxTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    box_seen = &seen;
    hook_ = g_signal_add_emission_hook(g_signal_lookup("map-event", GTK_TYPE_WIDGET), 0, on_map,
                                       nullptr, nullptr);
    // A box that never shows up still ends the call, as a failure.
    watchdog_ = g_timeout_add_seconds(
        10,
        [](gpointer self) {
          *static_cast<guint *>(self) = 0;
          ADD_FAILURE() << "the message box was not seen on screen";
          GList *all = gtk_window_list_toplevels();
          for (GList *l = all; l; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data))
              gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_OK);
          g_list_free(all);
          return G_SOURCE_REMOVE;
        },
        &watchdog_);
  }
  void TearDown() override {
    if (hook_) g_signal_remove_emission_hook(g_signal_lookup("map-event", GTK_TYPE_WIDGET), hook_);
    if (watchdog_) g_source_remove(watchdog_);
    box_seen = nullptr;
    DialogTest::TearDown();
  }

  BoxSeen seen;
  gulong hook_ = 0;
  guint watchdog_ = 0;
};

TEST_F(MessageBoxTest, ShowsTheTextCentredWithOneOkButtonAndReturnsOnceClosed) {
  const std::string text = gbk("发送成功，共 3 条");
  EXPECT_EQ(1, ShowMsg(text.c_str()));
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ("发送成功，共 3 条", seen.text);
  EXPECT_EQ(0u, seen.extra_labels);
  EXPECT_EQ("Quorvex", seen.title);
  EXPECT_EQ(std::vector<std::string>{"OK"}, seen.buttons);
  EXPECT_TRUE(seen.modal);
  EXPECT_FALSE(seen.icon);
  // Centred on the 1024x768 screen.
  EXPECT_NEAR((1024 - seen.place.width) / 2, seen.place.x, 1);
  EXPECT_NEAR((768 - seen.place.height) / 2, seen.place.y, 1);
  // Nothing of the box is left behind.
  GList *all = gtk_window_list_toplevels();
  for (GList *l = all; l; l = l->next)
    EXPECT_FALSE(GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)));
  g_list_free(all);
}

TEST_F(MessageBoxTest, TextsThatAreNotPlainGbkStillShow) {
  struct Case {
    const char *name;
    std::optional<std::string> bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"null is the empty text", std::nullopt, ""},
      {"empty", std::string(), ""},
      {"markup is shown as it is", "<b>1 & 2</b> %s %d", "<b>1 & 2</b> %s %d"},
      {"a byte that begins no character", std::string("a\xff") + "b", "a?b"},
      {"a character cut short at the end", "x\xc4", "x?"},
      {"lines", gbk("第一行\r\n第二行"), "第一行\r\n第二行"},
      // One byte that grows to three: the euro sign of code page 936.
      {"single bytes that grow", std::string(300, '\x80'),
       [] {
         std::string euros;
         for (int i = 0; i < 300; ++i) euros += "€";
         return euros;
       }()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    seen = BoxSeen{};
    EXPECT_EQ(1, ShowMsg(c.bytes ? c.bytes->c_str() : nullptr));
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(c.shown, seen.text);
  }
}

TEST_F(MessageBoxTest, AnAboutDialogStaysOpenAcrossAMessageBox) {
  GtkWidget *dialog = show_about();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(1, ShowMsg("ok"));
  EXPECT_TRUE(seen.seen);
  ASSERT_EQ(1u, toplevels_named("FormAbout").size());
  EXPECT_TRUE(gtk_widget_get_mapped(dialog));
}

// A library must not change its host's locale (number formats, for one),
// even where it brings GTK up itself.
TEST_F(DialogTest, BringingGtkUpLeavesTheProcessLocaleAlone) {
  const int status = run_probe("keeps-locale");
  ASSERT_TRUE(WIFEXITED(status)) << "the probe died of signal " << WTERMSIG(status);
  EXPECT_EQ(0, WEXITSTATUS(status))
      << "bit 0: ShowAbout did not return 1, bit 1: the locale changed";
}

// ---------------------------------------------------------------------------
// Without a display

TEST(WithoutDisplay, BothExportsReturnZero) {
  for (const char *probe : {"no-display", "unserved-display"}) {
    SCOPED_TRACE(probe);
    const int status = run_probe(probe);
    ASSERT_TRUE(WIFEXITED(status)) << "the probe died of signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status))
        << "bit 0: ShowAbout, 1: ShowMsg(null), 2: ShowMsg(text) returned 1";
  }
}

// Any shared object stands for a planted module: loading it at all is the
// fault.
TEST(CompanionModule, IsNeverLoadedFromTheCurrentDirectory) {
  namespace fs = std::filesystem;
  Dl_info self{};
  ASSERT_NE(0, dladdr(reinterpret_cast<void *>(&ShowAbout), &self));
  const fs::path library = fs::canonical(self.dli_fname);
  std::string pattern = ::testing::TempDir() + "qv-ui-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern.data()));
  const fs::path dir = fs::canonical(pattern);
  fs::create_directories(dir / "lib");
  fs::create_directories(dir / "cwd" / "quorvex");
  fs::copy_file(library, dir / "lib" / "libquorvex.so");
  fs::copy_file(library, dir / "cwd" / "libquorvex-gtk.so");
  fs::copy_file(library, dir / "cwd" / "quorvex" / "libquorvex-gtk.so");
  setenv("QV_UI_DIR", dir.c_str(), 1);
  const int status = run_probe("relative-library");
  unsetenv("QV_UI_DIR");
  fs::remove_all(dir);
  ASSERT_TRUE(WIFEXITED(status)) << "the probe died of signal " << WTERMSIG(status);
  EXPECT_EQ(0, WEXITSTATUS(status))
      << "bit 0: the module in the current directory was loaded, bit 1: no library";
}

}  // namespace
