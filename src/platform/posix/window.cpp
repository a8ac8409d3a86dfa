// The modal windows on Linux: GTK 3, and WebKitGTK for the document window. Each window runs
// a nested main loop on the calling thread until it is destroyed; a host that runs GTK
// itself keeps its own loop and windows.
#include "platform/window.h"

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace qd::platform::window {

const char kMsgNoDisplay[] = "Окно не может быть показано: графический экран недоступен";

namespace {

std::mutex gHookLock;
std::function<void(const TWindowProbe&)> gReadyHook;

std::function<void(const TWindowProbe&)> ReadyHook() {
  std::lock_guard<std::mutex> lock(gHookLock);
  return gReadyHook;
}

void EnsureToolkit() {
  if (!gtk_init_check(nullptr, nullptr)) throw std::runtime_error(kMsgNoDisplay);
}

// Window sizes are given for 120 dots per inch.
int Scaled(int APixels) {
  double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  if (dpi <= 0) dpi = 96;
  return static_cast<int>(APixels * dpi / 120.0 + 0.5);
}

// GTK shows valid UTF-8 only: anything else, and NUL, becomes U+FFFD.
std::string DisplayableText(const std::string& AText) {
  std::string out;
  out.reserve(AText.size());
  const char* p = AText.data();
  const char* end = p + AText.size();
  while (p < end) {
    const char* bad = nullptr;
    g_utf8_validate(p, end - p, &bad);
    out.append(p, bad);
    if (bad >= end) break;
    out += "\xEF\xBF\xBD";
    p = bad + 1;
  }
  return out;
}

// Strings GLib allocated, freed with the holder.
struct TGFree {
  void operator()(gchar* AText) const { g_free(AText); }
};
using TGString = std::unique_ptr<gchar, TGFree>;

// Case-insensitive order of the file list, as a sorted list control keeps it. Names come
// from the folder as they are, in any bytes: they are folded as the list shows them, valid
// UTF-8, since the folding reads a character's length off its first byte and would run past
// the end of a name that ends in a broken sequence.
bool ListOrder(const std::string& A, const std::string& B) {
  const std::string shownA = DisplayableText(A), shownB = DisplayableText(B);
  TGString a(g_utf8_casefold(shownA.data(), static_cast<gssize>(shownA.size())));
  TGString b(g_utf8_casefold(shownB.data(), static_cast<gssize>(shownB.size())));
  int c = std::strcmp(a.get(), b.get());
  return c != 0 ? c < 0 : A < B;
}

// Ends a nested main loop when its window goes.
void QuitLoopOnDestroy(GtkWidget* AWindow, GMainLoop* ALoop) {
  g_signal_connect_swapped(AWindow, "destroy", G_CALLBACK(g_main_loop_quit), ALoop);
}

void RunUntilDestroyed(GtkWidget* AWindow) {
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  QuitLoopOnDestroy(AWindow, loop);
  g_main_loop_run(loop);
}

// The log window's font, Tahoma at 13 pixels on 120 dots per inch. The style sheet selects
// that window by name only, so a host's own windows keep their look; it is added once.
void ApplyFont(GtkWidget* AWindow) {
  static const char kName[] = "qd-log-window";
  gtk_widget_set_name(AWindow, kName);
  static bool added = false;
  if (added) return;
  g_autoptr(GtkCssProvider) css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(
      css, "#qd-log-window, #qd-log-window * { font-family: Tahoma, sans-serif; font-size: 8pt; }", -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(AWindow), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  added = true;
}

// Whether the event, sent to a drop-down list's button, opens the list: a press of the first
// mouse button, or a key that presses a focused button.
bool OpensList(const GdkEvent* AEvent) {
  if (AEvent->type == GDK_BUTTON_PRESS) return AEvent->button.button == GDK_BUTTON_PRIMARY;
  if (AEvent->type != GDK_KEY_PRESS) return false;
  switch (AEvent->key.keyval) {
    case GDK_KEY_space: case GDK_KEY_KP_Space: case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter:
      return true;
    default:
      return false;
  }
}

// The first toggle button inside the widget, its own internal children included.
GtkWidget* FindToggleButton(GtkWidget* AWidget) {
  if (GTK_IS_TOGGLE_BUTTON(AWidget)) return AWidget;
  if (!GTK_IS_CONTAINER(AWidget)) return nullptr;
  GtkWidget* found = nullptr;
  gtk_container_forall(GTK_CONTAINER(AWidget), +[](GtkWidget* AChild, gpointer AFound) {
    auto* f = static_cast<GtkWidget**>(AFound);
    if (!*f) *f = FindToggleButton(AChild);
  }, &found);
  return found;
}

// ---- log window ----

class TGtkLogWindow final : public TLogWindowView {
 public:
  TGtkLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents) : FEvents(AEvents) {
    FWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(FWindow), DisplayableText(ACaption).c_str());
    gtk_window_set_default_size(GTK_WINDOW(FWindow), Scaled(633), Scaled(293));
    gtk_window_set_position(GTK_WINDOW(FWindow), GTK_WIN_POS_CENTER);
    gtk_window_set_modal(GTK_WINDOW(FWindow), TRUE);
    gtk_window_set_icon_name(GTK_WINDOW(FWindow), "text-x-generic");
    ApplyFont(FWindow);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    gtk_widget_set_size_request(bar, -1, Scaled(32));
    FFiles = gtk_combo_box_text_new();
    gtk_widget_set_size_request(FFiles, Scaled(257), -1);
    gtk_widget_set_valign(FFiles, GTK_ALIGN_CENTER);
    GtkWidget* folder = gtk_button_new_from_icon_name("folder", GTK_ICON_SIZE_SMALL_TOOLBAR);
    gtk_button_set_relief(GTK_BUTTON(folder), GTK_RELIEF_NONE);
    gtk_widget_set_size_request(folder, Scaled(23), Scaled(24));
    gtk_widget_set_valign(folder, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(bar), FFiles, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(bar), folder, FALSE, FALSE, 0);

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_ALWAYS, GTK_POLICY_ALWAYS);
    FText = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(FText), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(FText), TRUE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(FText), GTK_WRAP_NONE);
    gtk_container_add(GTK_CONTAINER(scroll), FText);
    gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), scroll, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(FWindow), column);

    g_signal_connect(FFiles, "changed", G_CALLBACK(+[](GtkComboBox*, gpointer ASelf) {
                       auto* self = static_cast<TGtkLogWindow*>(ASelf);
                       if (!self->FQuiet) self->Fire(&TLogWindowEvents::FilesChange);
                     }),
                     this);
    // the list's own button, which opens the list on a press
    FFilesButton = FindToggleButton(FFiles);
    // The list is refilled before it opens: refilled while open, it keeps the size it had
    // when empty. A press on the list's button opens it at once, and the "event" signal comes
    // before the press is handled; the keys and calls that open it go through "popup".
    if (FFilesButton) {
      g_signal_connect(FFilesButton, "event", G_CALLBACK(+[](GtkWidget*, GdkEvent* AEvent, gpointer ASelf) -> gboolean {
                         if (OpensList(AEvent)) static_cast<TGtkLogWindow*>(ASelf)->ListOpening();
                         return FALSE;
                       }),
                       this);
    }
    g_signal_connect(FFiles, "popup", G_CALLBACK(+[](GtkComboBox*, gpointer ASelf) {
                       static_cast<TGtkLogWindow*>(ASelf)->ListOpening();
                     }),
                     this);
    g_signal_connect(FFiles, "notify::popup-shown", G_CALLBACK(+[](GObject* ACombo, GParamSpec*, gpointer ASelf) {
                       auto* self = static_cast<TGtkLogWindow*>(ASelf);
                       gboolean shown = FALSE;
                       g_object_get(ACombo, "popup-shown", &shown, nullptr);
                       // opened some other way: refilled late rather than not at all
                       if (shown && !self->FRefilledForList) self->Fire(&TLogWindowEvents::FilesDropDown);
                       self->FRefilledForList = false;
                     }),
                     this);
    g_signal_connect(folder, "clicked", G_CALLBACK(+[](GtkButton*, gpointer ASelf) {
                       static_cast<TGtkLogWindow*>(ASelf)->Fire(&TLogWindowEvents::OpenDirClick);
                     }),
                     this);
    g_signal_connect(FWindow, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer ASelf) {
                       auto* self = static_cast<TGtkLogWindow*>(ASelf);
                       self->FClosed = true;
                       if (self->FTimer) g_source_remove(self->FTimer);
                       self->FTimer = 0;
                     }),
                     this);
  }

  void Run(const std::string& ACaption) {
    Fire(&TLogWindowEvents::FormCreate);
    if (FClosed) return;
    gtk_widget_show_all(FWindow);
    FTimer = g_timeout_add(1000, +[](gpointer ASelf) -> gboolean {
      static_cast<TGtkLogWindow*>(ASelf)->Fire(&TLogWindowEvents::CheckFileTimer);
      return G_SOURCE_CONTINUE;
    }, this);
    g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
    QuitLoopOnDestroy(FWindow, loop);
    if (auto hook = ReadyHook()) {
      TWindowProbe probe{ACaption, std::string(), [this] { Close(); }, [this] { OpenFileList(); },
                         [this] { return FileListOpen(); }};
      try {
        hook(probe);
      } catch (...) {
      }
    }
    if (!FClosed) g_main_loop_run(loop);
  }

  // Just before the list opens.
  void ListOpening() {
    gboolean shown = FALSE;
    g_object_get(FFiles, "popup-shown", &shown, nullptr);
    if (shown) return;
    FRefilledForList = true;
    Fire(&TLogWindowEvents::FilesDropDown);
  }

  // As a click on the list does: a button press on the list's own button.
  void OpenFileList() {
    if (FClosed || !FFilesButton) return;
    GdkWindow* where = gtk_widget_get_window(FFilesButton);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(FFilesButton));
    if (!where || !seat) return;
    GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
    press->button.window = GDK_WINDOW(g_object_ref(where));
    press->button.send_event = TRUE;
    press->button.time = GDK_CURRENT_TIME;
    press->button.button = GDK_BUTTON_PRIMARY;
    gdk_event_set_device(press, gdk_seat_get_pointer(seat));
    gtk_widget_event(FFilesButton, press);
    gdk_event_free(press);
  }
  bool FileListOpen() const {
    gboolean shown = FALSE;
    if (!FClosed) g_object_get(FFiles, "popup-shown", &shown, nullptr);
    return shown;
  }

  ~TGtkLogWindow() {
    if (!FClosed) gtk_widget_destroy(FWindow);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }

  // ---- the view ----
  void SetFileNames(const std::vector<std::string>& ANames) override {
    FNames = ANames;
    std::sort(FNames.begin(), FNames.end(), ListOrder);
    FQuiet = true;
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(FFiles));
    for (const std::string& n : FNames) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(FFiles), DisplayableText(n).c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(FFiles), -1);
    FQuiet = false;
  }
  std::vector<std::string> FileNames() const override { return FNames; }
  void SelectFile(size_t AIndex) override {
    if (AIndex >= FNames.size()) return;
    FQuiet = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(FFiles), static_cast<gint>(AIndex));
    FQuiet = false;
  }
  std::string SelectedFile() const override {
    gint i = gtk_combo_box_get_active(GTK_COMBO_BOX(FFiles));
    return i >= 0 && static_cast<size_t>(i) < FNames.size() ? FNames[static_cast<size_t>(i)] : std::string();
  }
  void SetText(const std::string& AText) override {
    std::string shown = DisplayableText(AText);
    gtk_text_buffer_set_text(Buffer(), shown.data(), static_cast<gint>(shown.size()));
  }
  std::string Text() const override {
    GtkTextIter from, to;
    gtk_text_buffer_get_bounds(Buffer(), &from, &to);
    TGString text(gtk_text_buffer_get_text(Buffer(), &from, &to, TRUE));
    return std::string(text.get());
  }
  size_t CaretPosition() const override {
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_mark(Buffer(), &at, gtk_text_buffer_get_insert(Buffer()));
    return static_cast<size_t>(gtk_text_iter_get_offset(&at));
  }
  void RestoreCaret(size_t APosition) override {
    GtkTextIter at;
    gint count = gtk_text_buffer_get_char_count(Buffer());
    gtk_text_buffer_get_iter_at_offset(Buffer(), &at, static_cast<gint>(std::min<size_t>(APosition, static_cast<size_t>(count))));
    gtk_text_buffer_place_cursor(Buffer(), &at);
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(FText), gtk_text_buffer_get_insert(Buffer()));
    gtk_widget_grab_focus(FText);
  }
  void ShowError(const std::string& AMessage) override {
    // Shown beside the window without blocking it; it goes with the window.
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(FWindow), GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_ERROR,
                                            GTK_BUTTONS_OK, "%s", DisplayableText(AMessage).c_str());
    g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show(box);
  }
  void Close() override {
    if (!FClosed) gtk_widget_destroy(FWindow);
  }

 private:
  GtkTextBuffer* Buffer() const { return gtk_text_view_get_buffer(GTK_TEXT_VIEW(FText)); }

  // A handler's failure is shown to the user; the window stays.
  void Fire(void (TLogWindowEvents::*AHandler)(TLogWindowView&)) {
    if (FClosed) return;
    try {
      (FEvents.*AHandler)(*this);
    } catch (const std::exception& e) {
      if (!FClosed) ShowError(e.what());
    } catch (...) {
      if (!FClosed) ShowError("Unknown error");
    }
  }

  TLogWindowEvents& FEvents;
  GtkWidget* FWindow = nullptr;
  GtkWidget* FFiles = nullptr;
  GtkWidget* FFilesButton = nullptr;
  GtkWidget* FText = nullptr;
  std::vector<std::string> FNames;
  guint FTimer = 0;
  bool FQuiet = false;
  bool FClosed = false;
  bool FRefilledForList = false;  // the list about to open has been refilled
};

// ---- document window ----

struct TDocumentWindow {
  GtkWidget* Window = nullptr;
  std::string Caption, Location;
  guint Timer = 0;
  bool Ready = false;
  bool Closed = false;

  void MakeReady() {
    if (Ready || Closed) return;
    Ready = true;
    if (Timer) g_source_remove(Timer);
    Timer = 0;
    if (auto hook = ReadyHook()) {
      TWindowProbe probe;
      probe.Caption = Caption;
      probe.Location = Location;
      probe.Close = [this] {
        if (!Closed) gtk_widget_destroy(Window);
      };
      try {
        hook(probe);
      } catch (...) {
      }
    }
  }
};

}  // namespace

void RunLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents) {
  EnsureToolkit();
  TGtkLogWindow window(ACaption, AEvents);
  window.Run(ACaption);
}

void OpenFolderInShell(const std::string& AFolder) {
  TGString uri(g_filename_to_uri(AFolder.c_str(), nullptr, nullptr));
  if (!uri) throw std::runtime_error("Не удалось открыть папку: " + AFolder);
  g_autoptr(GError) error = nullptr;
  gboolean ok = g_app_info_launch_default_for_uri(uri.get(), nullptr, &error);
  if (!ok) {
    std::string message = error ? error->message : AFolder;
    throw std::runtime_error("Не удалось открыть папку: " + message);
  }
}

void RunDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption) {
  EnsureToolkit();
  TGString uri(g_filename_to_uri(AHtmlFilePath.c_str(), nullptr, nullptr));
  if (!uri) throw std::runtime_error("File not found: " + AHtmlFilePath);
  TDocumentWindow doc;
  doc.Caption = ACaption;
  doc.Location = AHtmlFilePath;
  doc.Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(doc.Window), DisplayableText(ACaption).c_str());
  gtk_window_set_default_size(GTK_WINDOW(doc.Window), Scaled(633), Scaled(425));
  gtk_window_set_position(GTK_WINDOW(doc.Window), GTK_WIN_POS_CENTER);
  gtk_window_set_modal(GTK_WINDOW(doc.Window), TRUE);
  gtk_window_set_icon_name(GTK_WINDOW(doc.Window), "help-browser");
  GtkWidget* browser = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(doc.Window), browser);
  g_signal_connect(doc.Window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer ADoc) {
                     auto* d = static_cast<TDocumentWindow*>(ADoc);
                     d->Closed = true;
                     if (d->Timer) g_source_remove(d->Timer);
                     d->Timer = 0;
                   }),
                   &doc);
  g_signal_connect(browser, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent AEvent, gpointer ADoc) {
                     if (AEvent == WEBKIT_LOAD_FINISHED) static_cast<TDocumentWindow*>(ADoc)->MakeReady();
                   }),
                   &doc);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(browser), uri.get());
  gtk_widget_show_all(doc.Window);
  doc.Timer = g_timeout_add(5000, +[](gpointer ADoc) -> gboolean {
    auto* d = static_cast<TDocumentWindow*>(ADoc);
    d->Timer = 0;
    d->MakeReady();
    return G_SOURCE_REMOVE;
  }, &doc);
  if (!doc.Closed) RunUntilDestroyed(doc.Window);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

namespace {

// Marks the loaded library that holds the symbol as never to be unloaded.
void PinLibraryOf(const void* ASymbol) {
  Dl_info info{};
  if (dladdr(ASymbol, &info) == 0 || !info.dli_fname) return;
  // Only a flag on the library already loaded: RTLD_NOLOAD loads nothing, and the reference
  // that it takes is never given back.
  (void)dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

void KeepToolkitLoaded() {
  // The web engine's library keeps GTK and everything else the windows load.
  PinLibraryOf(reinterpret_cast<const void*>(&webkit_web_view_new));
  PinLibraryOf(reinterpret_cast<const void*>(&gtk_init_check));
}

void SetWindowReadyHook(std::function<void(const TWindowProbe&)> AHook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  gReadyHook = std::move(AHook);
}

bool JoinMultithreadedApartment() { return false; }
void LeaveApartment() {}

}  // namespace qd::platform::window
