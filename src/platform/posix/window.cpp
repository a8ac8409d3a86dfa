// The modal windows on Linux: GTK 3, and WebKitGTK for the document window. Each window runs
// a nested main loop on the calling thread until it is destroyed; a host that runs GTK
// itself keeps its own loop and windows.
#include "platform/window.h"

#include "platform/links.h"
#include "platform/posix/toolkit.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace qd::platform::window {

using toolkit::Gtk;
using toolkit::Web;

const char kMsgNoDisplay[] = "Окно не может быть показано: графический экран недоступен";

namespace {

std::mutex gHookLock;
std::function<void(const TWindowProbe&)> gReadyHook;

std::function<void(const TWindowProbe&)> ReadyHook() {
  std::lock_guard<std::mutex> lock(gHookLock);
  return gReadyHook;
}

// The toolkit's libraries are opened at the first window; then the display is checked.
void EnsureToolkit() {
  toolkit::LoadGtk();
  if (!Gtk.gtk_init_check(nullptr, nullptr)) throw std::runtime_error(kMsgNoDisplay);
}

// The toolkit's signal connections, through the table.
gulong Connect(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData) {
  return Gtk.g_signal_connect_data(AInstance, ASignal, AHandler, AData, nullptr, static_cast<GConnectFlags>(0));
}
gulong ConnectAfter(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData) {
  return Gtk.g_signal_connect_data(AInstance, ASignal, AHandler, AData, nullptr, G_CONNECT_AFTER);
}
gulong ConnectSwapped(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData) {
  return Gtk.g_signal_connect_data(AInstance, ASignal, AHandler, AData, nullptr, G_CONNECT_SWAPPED);
}

// Whether the object is an instance of the type (the headers' type tests, through the table).
bool IsA(gpointer AObject, GType AType) {
  return AObject && Gtk.g_type_check_instance_is_a(static_cast<GTypeInstance*>(AObject), AType);
}

// References the holder gives back when it goes.
struct TUnref {
  void operator()(gpointer AObject) const { Gtk.g_object_unref(AObject); }
};
template <typename T>
using TRef = std::unique_ptr<T, TUnref>;
// Takes a reference of its own to the object.
template <typename T>
TRef<T> Hold(T* AObject) {
  return TRef<T>(static_cast<T*>(Gtk.g_object_ref(AObject)));
}
struct TLoopUnref {
  void operator()(GMainLoop* ALoop) const { Gtk.g_main_loop_unref(ALoop); }
};
using TLoop = std::unique_ptr<GMainLoop, TLoopUnref>;
// An error the toolkit may fill in, freed with the holder.
class TError {
 public:
  TError() = default;
  TError(const TError&) = delete;
  TError& operator=(const TError&) = delete;
  ~TError() {
    if (FError) Gtk.g_error_free(FError);
  }
  GError** operator&() { return &FError; }
  const char* Message(const char* AOtherwise) const { return FError && FError->message ? FError->message : AOtherwise; }

 private:
  GError* FError = nullptr;
};

// Window sizes are given for 120 dots per inch.
int Scaled(int APixels) {
  double dpi = Gtk.gdk_screen_get_resolution(Gtk.gdk_screen_get_default());
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
    Gtk.g_utf8_validate(p, end - p, &bad);
    out.append(p, bad);
    if (bad >= end) break;
    out += "\xEF\xBF\xBD";
    p = bad + 1;
  }
  return out;
}

// Strings GLib allocated, freed with the holder.
struct TGFree {
  void operator()(gchar* AText) const { Gtk.g_free(AText); }
};
using TGString = std::unique_ptr<gchar, TGFree>;

// Case-insensitive order of the file list, as a sorted list control keeps it. Names come
// from the folder as they are, in any bytes: they are folded as the list shows them, valid
// UTF-8, since the folding reads a character's length off its first byte and would run past
// the end of a name that ends in a broken sequence.
bool ListOrder(const std::string& A, const std::string& B) {
  const std::string shownA = DisplayableText(A), shownB = DisplayableText(B);
  TGString a(Gtk.g_utf8_casefold(shownA.data(), static_cast<gssize>(shownA.size())));
  TGString b(Gtk.g_utf8_casefold(shownB.data(), static_cast<gssize>(shownB.size())));
  int c = std::strcmp(a.get(), b.get());
  return c != 0 ? c < 0 : A < B;
}

// Ends a nested main loop when its window goes.
void QuitLoopOnDestroy(GtkWidget* AWindow, GMainLoop* ALoop) {
  ConnectSwapped(AWindow, "destroy", G_CALLBACK(Gtk.g_main_loop_quit), ALoop);
}

void RunUntilDestroyed(GtkWidget* AWindow) {
  TLoop loop(Gtk.g_main_loop_new(nullptr, FALSE));
  QuitLoopOnDestroy(AWindow, loop.get());
  Gtk.g_main_loop_run(loop.get());
}

// The log window's font, Tahoma at 13 pixels on 120 dots per inch. The style sheet selects
// that window by name only, so a host's own windows keep their look; it is added once.
void ApplyFont(GtkWidget* AWindow) {
  static const char kName[] = "qd-log-window";
  Gtk.gtk_widget_set_name(AWindow, kName);
  static bool added = false;
  if (added) return;
  TRef<GtkCssProvider> css(Gtk.gtk_css_provider_new());
  Gtk.gtk_css_provider_load_from_data(
      css.get(), "#qd-log-window, #qd-log-window * { font-family: Tahoma, sans-serif; font-size: 8pt; }", -1, nullptr);
  Gtk.gtk_style_context_add_provider_for_screen(Gtk.gtk_widget_get_screen(AWindow), GTK_STYLE_PROVIDER(css.get()),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  added = true;
}

// Whether the event, sent to a drop-down list's button, opens the list as a click: a press of
// the first mouse button.
bool ClickOpensList(const GdkEvent* AEvent) {
  return AEvent->type == GDK_BUTTON_PRESS && AEvent->button.button == GDK_BUTTON_PRIMARY;
}

// The Shift, Control and Alt keys held with a key; other states (locks, buttons) left out.
guint ModifiersOf(const GdkEventKey* AEvent) {
  return AEvent->state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK);
}

// Whether the event is a key that opens a focused drop-down list: Space or Enter, with no
// modifier (Alt+Down is the list's own key binding).
bool KeyOpensList(const GdkEvent* AEvent) {
  if (AEvent->type != GDK_KEY_PRESS || ModifiersOf(&AEvent->key) != 0) return false;
  switch (AEvent->key.keyval) {
    case GDK_KEY_space: case GDK_KEY_KP_Space: case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter:
      return true;
    default:
      return false;
  }
}

// The first toggle button inside the widget, its own internal children included.
GtkWidget* FindToggleButton(GtkWidget* AWidget) {
  if (IsA(AWidget, Gtk.gtk_toggle_button_get_type())) return AWidget;
  if (!IsA(AWidget, Gtk.gtk_container_get_type())) return nullptr;
  GtkWidget* found = nullptr;
  Gtk.gtk_container_forall(GTK_CONTAINER(AWidget), +[](GtkWidget* AChild, gpointer AFound) {
    auto* f = static_cast<GtkWidget**>(AFound);
    if (!*f) *f = FindToggleButton(AChild);
  }, &found);
  return found;
}

// Runs the thread's events until the condition holds, the window is gone or the time is up.
bool RunEventsUntil(int AMilliseconds, const std::function<bool()>& ACondition, const bool& AClosed) {
  const gint64 deadline = Gtk.g_get_monotonic_time() + static_cast<gint64>(AMilliseconds) * 1000;
  for (;;) {
    if (ACondition && ACondition()) return true;
    if (AClosed || Gtk.g_get_monotonic_time() >= deadline) return false;
    if (!Gtk.g_main_context_iteration(nullptr, FALSE)) Gtk.g_usleep(2000);
  }
}

GdkDevice* Keyboard(GtkWidget* AWidget) {
  GdkSeat* seat = Gtk.gdk_display_get_default_seat(Gtk.gtk_widget_get_display(AWidget));
  return seat ? Gtk.gdk_seat_get_keyboard(seat) : nullptr;
}

// The toplevel gets the keyboard, as the desktop gives it to the window the user works in.
void GiveKeyboard(GtkWidget* AToplevel) {
  GdkWindow* where = Gtk.gtk_widget_get_window(AToplevel);
  GdkDevice* keyboard = Keyboard(AToplevel);
  if (!where || !keyboard) return;
  GdkEvent* focus = Gtk.gdk_event_new(GDK_FOCUS_CHANGE);
  focus->focus_change.window = GDK_WINDOW(Gtk.g_object_ref(where));
  focus->focus_change.send_event = TRUE;
  focus->focus_change.in = TRUE;
  Gtk.gdk_event_set_device(focus, keyboard);
  Gtk.gtk_main_do_event(focus);
  Gtk.gdk_event_free(focus);
}

// A key pressed and released on the toplevel, through the toolkit's own event handling (so a
// modal window elsewhere takes it, as it takes the user's keys). "shift+Tab", "ctrl+End"...
void PressKeyOn(GtkWidget* AToplevel, const std::string& AKey) {
  GdkWindow* where = Gtk.gtk_widget_get_window(AToplevel);
  GdkDevice* keyboard = Keyboard(AToplevel);
  if (!where || !keyboard) return;
  GiveKeyboard(AToplevel);
  std::string name = AKey;
  guint state = 0;
  for (;;) {
    if (name.rfind("shift+", 0) == 0) {
      state |= GDK_SHIFT_MASK;
      name.erase(0, 6);
    } else if (name.rfind("ctrl+", 0) == 0) {
      state |= GDK_CONTROL_MASK;
      name.erase(0, 5);
    } else if (name.rfind("alt+", 0) == 0) {
      state |= GDK_MOD1_MASK;
      name.erase(0, 4);
    } else {
      break;
    }
  }
  guint keyval = Gtk.gdk_keyval_from_name(name.c_str());
  if (keyval == GDK_KEY_VoidSymbol || keyval == 0) return;
  guint16 keycode = 0;
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  if (Gtk.gdk_keymap_get_entries_for_keyval(Gtk.gdk_keymap_get_for_display(Gtk.gtk_widget_get_display(AToplevel)), keyval, &keys,
                                        &count) &&
      count > 0)
    keycode = static_cast<guint16>(keys[0].keycode);
  Gtk.g_free(keys);
  // The shifted Tab is a key of its own to the toolkit.
  if (keyval == GDK_KEY_Tab && (state & GDK_SHIFT_MASK)) keyval = GDK_KEY_ISO_Left_Tab;
  // The press may close the window: both are held until the release has been sent.
  TRef<GtkWidget> toplevel = Hold(AToplevel);
  TRef<GdkWindow> held = Hold(where);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    if (!Gtk.gtk_widget_get_realized(toplevel.get())) return;
    GdkEvent* key = Gtk.gdk_event_new(type);
    key->key.window = GDK_WINDOW(Gtk.g_object_ref(held.get()));
    key->key.send_event = TRUE;
    key->key.time = GDK_CURRENT_TIME;
    key->key.state = state;
    key->key.keyval = keyval;
    key->key.hardware_keycode = keycode;
    key->key.group = 0;
    Gtk.gdk_event_set_device(key, keyboard);
    Gtk.gtk_main_do_event(key);
    Gtk.gdk_event_free(key);
  }
}

// Esc with no modifier.
bool IsEscape(const GdkEventKey* AEvent) {
  return AEvent->keyval == GDK_KEY_Escape && ModifiersOf(AEvent) == 0;
}

// ---- log window ----

class TGtkLogWindow final : public TLogWindowView {
 public:
  TGtkLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents)
      : FEvents(AEvents), FCaption(DisplayableText(ACaption)) {
    FWindow = Gtk.gtk_window_new(GTK_WINDOW_TOPLEVEL);
    Gtk.gtk_window_set_title(GTK_WINDOW(FWindow), FCaption.c_str());
    Gtk.gtk_window_set_default_size(GTK_WINDOW(FWindow), Scaled(633), Scaled(293));
    Gtk.gtk_window_set_position(GTK_WINDOW(FWindow), GTK_WIN_POS_CENTER);
    Gtk.gtk_window_set_modal(GTK_WINDOW(FWindow), TRUE);
    Gtk.gtk_window_set_icon_name(GTK_WINDOW(FWindow), "text-x-generic");
    ApplyFont(FWindow);

    GtkWidget* column = Gtk.gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* bar = Gtk.gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    Gtk.gtk_widget_set_size_request(bar, -1, Scaled(32));
    FFiles = Gtk.gtk_combo_box_text_new();
    Gtk.gtk_widget_set_size_request(FFiles, Scaled(257), -1);
    Gtk.gtk_widget_set_valign(FFiles, GTK_ALIGN_CENTER);
    // The folder button says what it does (tooltip and accessible name), and its picture grows
    // with the font, as the list beside it does: 16 pixels at 96 dots per inch.
    FFolder = Gtk.gtk_button_new();
    FFolderImage = Gtk.gtk_image_new_from_icon_name("folder", GTK_ICON_SIZE_SMALL_TOOLBAR);
    Gtk.gtk_image_set_pixel_size(GTK_IMAGE(FFolderImage), std::max(16, Scaled(20)));
    Gtk.gtk_button_set_image(GTK_BUTTON(FFolder), FFolderImage);
    Gtk.gtk_button_set_relief(GTK_BUTTON(FFolder), GTK_RELIEF_NONE);
    Gtk.gtk_widget_set_tooltip_text(FFolder, kOpenFolderHint);
    if (AtkObject* accessible = Gtk.gtk_widget_get_accessible(FFolder)) Gtk.atk_object_set_name(accessible, kOpenFolderHint);
    Gtk.gtk_widget_set_size_request(FFolder, Scaled(23), Scaled(24));
    Gtk.gtk_widget_set_valign(FFolder, GTK_ALIGN_CENTER);
    Gtk.gtk_box_pack_start(GTK_BOX(bar), FFiles, FALSE, FALSE, 2);
    Gtk.gtk_box_pack_start(GTK_BOX(bar), FFolder, FALSE, FALSE, 0);

    GtkWidget* scroll = Gtk.gtk_scrolled_window_new(nullptr, nullptr);
    Gtk.gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_ALWAYS, GTK_POLICY_ALWAYS);
    Gtk.gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    FText = Gtk.gtk_text_view_new();
    Gtk.gtk_text_view_set_editable(GTK_TEXT_VIEW(FText), FALSE);
    Gtk.gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(FText), TRUE);
    Gtk.gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(FText), GTK_WRAP_NONE);
    // The text keeps a little room from the frame on every side.
    Gtk.gtk_text_view_set_left_margin(GTK_TEXT_VIEW(FText), Scaled(kTextMargin));
    Gtk.gtk_text_view_set_right_margin(GTK_TEXT_VIEW(FText), Scaled(kTextMargin));
    Gtk.gtk_text_view_set_top_margin(GTK_TEXT_VIEW(FText), Scaled(kTextMargin) / 2);
    Gtk.gtk_text_view_set_bottom_margin(GTK_TEXT_VIEW(FText), Scaled(kTextMargin) / 2);
    GtkTextIter start;
    Gtk.gtk_text_buffer_get_start_iter(Buffer(), &start);
    FTopMark = Gtk.gtk_text_buffer_create_mark(Buffer(), nullptr, &start, TRUE);
    Gtk.gtk_container_add(GTK_CONTAINER(scroll), FText);
    Gtk.gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);
    Gtk.gtk_box_pack_start(GTK_BOX(column), scroll, TRUE, TRUE, 0);
    Gtk.gtk_container_add(GTK_CONTAINER(FWindow), column);

    // The caret moved by a key is brought into view: in a text that cannot be edited the
    // toolkit moves the caret to the end on Ctrl+End but leaves the view where it was.
    // To the end of the text the view is held there: lines are measured a few at a time after
    // a change, and the end moves down as they are.
    ConnectAfter(FText, "move-cursor", G_CALLBACK(+[](GtkTextView* AView, GtkMovementStep AStep, gint ACount, gboolean, gpointer ASelf) {
                             auto* self = static_cast<TGtkLogWindow*>(ASelf);
                             if (AStep == GTK_MOVEMENT_BUFFER_ENDS && ACount > 0) {
                               self->FollowEnd();
                               return;
                             }
                             Gtk.gtk_text_view_scroll_to_mark(AView, Gtk.gtk_text_buffer_get_insert(Gtk.gtk_text_view_get_buffer(AView)),
                                                          0.0, FALSE, 0.0, 0.0);
                           }),
                           this);
    // The view stops following the end when the user moves it.
    for (const char* signal : {"key-press-event", "button-press-event", "scroll-event"}) {
      for (GtkWidget* target : {FText, Gtk.gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(scroll))}) {
        Connect(target, signal, G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer ASelf) -> gboolean {
                           static_cast<TGtkLogWindow*>(ASelf)->FHold = THold::None;
                           return FALSE;
                         }),
                         this);
      }
    }
    GtkAdjustment* vertical = Gtk.gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(FText));
    for (const char* signal : {"changed", "value-changed"}) {
      Connect(vertical, signal, G_CALLBACK(+[](GtkAdjustment*, gpointer ASelf) {
                         static_cast<TGtkLogWindow*>(ASelf)->KeepPlace();
                       }),
                       this);
    }
    // Esc closes the window, as it closes a dialog.
    Connect(FWindow, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* AEvent, gpointer ASelf) -> gboolean {
                       if (!IsEscape(AEvent)) return FALSE;
                       static_cast<TGtkLogWindow*>(ASelf)->Close();
                       return TRUE;
                     }),
                     this);
    Connect(FFiles, "changed", G_CALLBACK(+[](GtkComboBox*, gpointer ASelf) {
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
      Connect(FFilesButton, "event", G_CALLBACK(+[](GtkWidget*, GdkEvent* AEvent, gpointer ASelf) -> gboolean {
                         auto* self = static_cast<TGtkLogWindow*>(ASelf);
                         if (ClickOpensList(AEvent)) self->ListOpening();
                         // A key opens the list here, after the refill, instead of letting the
                         // button take it: pressed while it is refilled, the button would lose
                         // the list's selection and the focus.
                         if (KeyOpensList(AEvent)) {
                           self->ListOpening();
                           if (!self->FClosed) Gtk.gtk_combo_box_popup(GTK_COMBO_BOX(self->FFiles));
                           return TRUE;
                         }
                         return FALSE;
                       }),
                       this);
    }
    Connect(FFiles, "popup", G_CALLBACK(+[](GtkComboBox*, gpointer ASelf) {
                       static_cast<TGtkLogWindow*>(ASelf)->ListOpening();
                     }),
                     this);
    Connect(FFiles, "notify::popup-shown", G_CALLBACK(+[](GObject* ACombo, GParamSpec*, gpointer ASelf) {
                       auto* self = static_cast<TGtkLogWindow*>(ASelf);
                       gboolean shown = FALSE;
                       Gtk.g_object_get(ACombo, "popup-shown", &shown, nullptr);
                       // opened some other way: refilled late rather than not at all
                       if (shown && !self->FRefilledForList) self->Fire(&TLogWindowEvents::FilesDropDown);
                       self->FRefilledForList = false;
                       // closed: the list keeps the keyboard, as it had it before it opened (the
                       // toolkit leaves the window without a focused control)
                       if (!shown && !self->FClosed) Gtk.gtk_widget_grab_focus(self->FFiles);
                     }),
                     this);
    Connect(FFolder, "clicked", G_CALLBACK(+[](GtkButton*, gpointer ASelf) {
                       static_cast<TGtkLogWindow*>(ASelf)->Fire(&TLogWindowEvents::OpenDirClick);
                     }),
                     this);
    Connect(FWindow, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer ASelf) {
                       auto* self = static_cast<TGtkLogWindow*>(ASelf);
                       self->FClosed = true;
                       if (self->FTimer) Gtk.g_source_remove(self->FTimer);
                       self->FTimer = 0;
                     }),
                     this);
  }

  void Run(const std::string& ACaption) {
    Fire(&TLogWindowEvents::FormCreate);
    if (FClosed) return;
    Gtk.gtk_widget_show_all(FWindow);
    FTimer = Gtk.g_timeout_add(1000, +[](gpointer ASelf) -> gboolean {
      auto* self = static_cast<TGtkLogWindow*>(ASelf);
      // While a message box is up the user has not read it yet: no reload behind it, and no
      // second box over it.
      if (self->FBoxes.empty()) self->Fire(&TLogWindowEvents::CheckFileTimer);
      return G_SOURCE_CONTINUE;
    }, this);
    TLoop loop(Gtk.g_main_loop_new(nullptr, FALSE));
    QuitLoopOnDestroy(FWindow, loop.get());
    if (auto hook = ReadyHook()) {
      // Ready once it is on the screen and laid out.
      RunEventsUntil(5000, [this] { return Gtk.gtk_widget_get_mapped(FText) && Gtk.gtk_widget_get_allocated_height(FText) > 1; },
                     FClosed);
      if (FClosed) return;
      try {
        hook(Probe(ACaption));
      } catch (...) {
      }
    }
    if (!FClosed) Gtk.g_main_loop_run(loop.get());
  }

  TWindowProbe Probe(const std::string& ACaption) {
    TWindowProbe probe;
    probe.Caption = ACaption;
    probe.Close = [this] { Close(); };
    probe.OpenFileList = [this] { OpenFileList(); };
    probe.FileListOpen = [this] { return FileListOpen(); };
    probe.WaitFor = [this](int AMilliseconds, const std::function<bool()>& ACondition) {
      return RunEventsUntil(AMilliseconds, ACondition, FClosed);
    };
    probe.Alive = [this] { return !FClosed; };
    probe.PressKey = [this](const std::string& AKey) {
      if (FClosed) return;
      PressKeyOn(FBoxes.empty() ? FWindow : FBoxes.back(), AKey);
    };
    probe.FocusedControl = [this] { return FocusedControl(); };
    probe.MessageBoxes = [this] {
      std::vector<std::string> captions;
      for (GtkWidget* box : FBoxes) {
        const gchar* title = Gtk.gtk_window_get_title(GTK_WINDOW(box));
        captions.emplace_back(title ? title : "");
      }
      return captions;
    };
    probe.TextAtEnd = [this] { return !FClosed && LastLineInView(); };
    probe.FirstVisibleLine = [this] { return FClosed ? -1 : static_cast<int>(TopLine()); };
    probe.TextMargins = [this] {
      GtkTextView* view = GTK_TEXT_VIEW(FText);
      return std::vector<int>{Gtk.gtk_text_view_get_left_margin(view), Gtk.gtk_text_view_get_top_margin(view),
                              Gtk.gtk_text_view_get_right_margin(view), Gtk.gtk_text_view_get_bottom_margin(view)};
    };
    probe.Caret = [this] { return FClosed ? size_t(0) : CaretPosition(); };
    probe.SelectedFile = [this] { return FClosed ? std::string() : SelectedFile(); };
    probe.FolderButton = [this] {
      TWindowProbe::TButtonFacts facts;
      if (FClosed) return facts;
      TGString tip(Gtk.gtk_widget_get_tooltip_text(FFolder));
      facts.Tooltip = tip ? tip.get() : "";
      AtkObject* accessible = Gtk.gtk_widget_get_accessible(FFolder);
      const char* name = accessible ? Gtk.atk_object_get_name(accessible) : nullptr;
      facts.AccessibleName = name ? name : "";
      facts.PictureSize = Gtk.gtk_image_get_pixel_size(GTK_IMAGE(FFolderImage));
      facts.ListHeight = Gtk.gtk_widget_get_allocated_height(FFiles);
      return facts;
    };
    return probe;
  }

  // Just before the list opens.
  void ListOpening() {
    gboolean shown = FALSE;
    Gtk.g_object_get(FFiles, "popup-shown", &shown, nullptr);
    if (shown) return;
    FRefilledForList = true;
    Fire(&TLogWindowEvents::FilesDropDown);
  }

  // As a click on the list does: a button press on the list's own button.
  void OpenFileList() {
    if (FClosed || !FFilesButton) return;
    GdkWindow* where = Gtk.gtk_widget_get_window(FFilesButton);
    GdkSeat* seat = Gtk.gdk_display_get_default_seat(Gtk.gtk_widget_get_display(FFilesButton));
    if (!where || !seat) return;
    GdkEvent* press = Gtk.gdk_event_new(GDK_BUTTON_PRESS);
    press->button.window = GDK_WINDOW(Gtk.g_object_ref(where));
    press->button.send_event = TRUE;
    press->button.time = GDK_CURRENT_TIME;
    press->button.button = GDK_BUTTON_PRIMARY;
    Gtk.gdk_event_set_device(press, Gtk.gdk_seat_get_pointer(seat));
    Gtk.gtk_widget_event(FFilesButton, press);
    Gtk.gdk_event_free(press);
  }
  bool FileListOpen() const {
    gboolean shown = FALSE;
    if (!FClosed) Gtk.g_object_get(FFiles, "popup-shown", &shown, nullptr);
    return shown;
  }

  std::string FocusedControl() const {
    if (FClosed) return std::string();
    GtkWidget* focus = Gtk.gtk_window_get_focus(GTK_WINDOW(FWindow));
    if (!focus) return std::string();
    if (focus == FText) return "text";
    if (focus == FFolder) return "folder";
    if (focus == FFiles || Gtk.gtk_widget_is_ancestor(focus, FFiles)) return "files";
    return std::string();
  }

  ~TGtkLogWindow() {
    if (!FClosed) Gtk.gtk_widget_destroy(FWindow);
    while (Gtk.gtk_events_pending()) Gtk.gtk_main_iteration_do(FALSE);
  }

  // ---- the view ----
  void SetFileNames(const std::vector<std::string>& ANames) override {
    FNames = ANames;
    std::sort(FNames.begin(), FNames.end(), ListOrder);
    FQuiet = true;
    Gtk.gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(FFiles));
    for (const std::string& n : FNames) Gtk.gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(FFiles), DisplayableText(n).c_str());
    Gtk.gtk_combo_box_set_active(GTK_COMBO_BOX(FFiles), -1);
    FQuiet = false;
  }
  std::vector<std::string> FileNames() const override { return FNames; }
  void SelectFile(size_t AIndex) override {
    if (AIndex >= FNames.size()) return;
    FQuiet = true;
    Gtk.gtk_combo_box_set_active(GTK_COMBO_BOX(FFiles), static_cast<gint>(AIndex));
    FQuiet = false;
  }
  std::string SelectedFile() const override {
    gint i = Gtk.gtk_combo_box_get_active(GTK_COMBO_BOX(FFiles));
    return i >= 0 && static_cast<size_t>(i) < FNames.size() ? FNames[static_cast<size_t>(i)] : std::string();
  }
  void SetText(const std::string& AText) override {
    std::string shown = DisplayableText(AText);
    Gtk.gtk_text_buffer_set_text(Buffer(), shown.data(), static_cast<gint>(shown.size()));
    // The caret where the view is: both at the top, the view held there while the new lines
    // are measured (the toolkit leaves the caret at the end of the new text).
    GtkTextIter start;
    Gtk.gtk_text_buffer_get_start_iter(Buffer(), &start);
    Gtk.gtk_text_buffer_place_cursor(Buffer(), &start);
    Gtk.gtk_text_buffer_move_mark(Buffer(), FTopMark, &start);
    FHold = THold::Line;
    KeepPlace();
  }
  void AppendText(const std::string& AText) override {
    std::string shown = DisplayableText(AText);
    GtkTextIter end;
    Gtk.gtk_text_buffer_get_end_iter(Buffer(), &end);
    Gtk.gtk_text_buffer_insert(Buffer(), &end, shown.data(), static_cast<gint>(shown.size()));
  }
  std::string Text() const override {
    GtkTextIter from, to;
    Gtk.gtk_text_buffer_get_bounds(Buffer(), &from, &to);
    TGString text(Gtk.gtk_text_buffer_get_text(Buffer(), &from, &to, TRUE));
    return std::string(text.get());
  }
  size_t CaretPosition() const override {
    GtkTextIter at;
    Gtk.gtk_text_buffer_get_iter_at_mark(Buffer(), &at, Gtk.gtk_text_buffer_get_insert(Buffer()));
    return static_cast<size_t>(Gtk.gtk_text_iter_get_offset(&at));
  }
  void RestoreCaret(size_t APosition) override {
    PlaceCaret(APosition, false);
    // Scrolled once the new text has been laid out: line heights are measured after a change.
    Gtk.gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(FText), Gtk.gtk_text_buffer_get_insert(Buffer()), 0.0, FALSE, 0.0, 0.0);
    Gtk.gtk_widget_grab_focus(FText);
  }
  TReadingPlace ReadingPlace() const override {
    TReadingPlace place;
    GtkTextIter at;
    Gtk.gtk_text_buffer_get_iter_at_mark(Buffer(), &at, Gtk.gtk_text_buffer_get_insert(Buffer()));
    place.Caret = static_cast<size_t>(Gtk.gtk_text_iter_get_offset(&at));
    place.CaretAtEnd = Gtk.gtk_text_iter_is_end(&at);
    place.TopLine = TopLine();
    place.ViewAtEnd = LastLineInView();
    return place;
  }
  void RestoreReadingPlace(const TReadingPlace& APlace) override {
    PlaceCaret(APlace.Caret, APlace.CaretAtEnd);
    // The view moves once the new text has been laid out (the scroll waits for it), to the
    // end of the text or to the line that was the first in view.
    GtkTextIter to;
    if (APlace.ViewAtEnd) {
      FHold = THold::End;
    } else {
      Gtk.gtk_text_buffer_get_iter_at_line(Buffer(), &to, static_cast<gint>(APlace.TopLine));
      Gtk.gtk_text_buffer_move_mark(Buffer(), FTopMark, &to);
      FHold = THold::Line;
    }
    KeepPlace();
    Gtk.gtk_widget_grab_focus(FText);
  }
  void ShowError(const std::string& AMessage) override {
    // Modal over this window, which holds the input while it is shown, so that the box gets
    // the mouse and the keys; Enter, Space or Esc dismiss it. It goes with the window.
    GtkWidget* box = Gtk.gtk_message_dialog_new(GTK_WINDOW(FWindow),
                                            static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                            GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", DisplayableText(AMessage).c_str());
    Gtk.gtk_window_set_title(GTK_WINDOW(box), FCaption.c_str());
    Gtk.gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
    Gtk.gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    Connect(box, "response", G_CALLBACK(Gtk.gtk_widget_destroy), nullptr);
    Connect(box, "destroy", G_CALLBACK(+[](GtkWidget* ABox, gpointer ASelf) {
                       auto& boxes = static_cast<TGtkLogWindow*>(ASelf)->FBoxes;
                       boxes.erase(std::remove(boxes.begin(), boxes.end(), ABox), boxes.end());
                     }),
                     this);
    FBoxes.push_back(box);
    Gtk.gtk_widget_show(box);
    if (GtkWidget* ok = Gtk.gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK)) Gtk.gtk_widget_grab_focus(ok);
  }
  void Close() override {
    if (!FClosed) Gtk.gtk_widget_destroy(FWindow);
  }

 private:
  static constexpr int kTextMargin = 6;  // at 120 dots per inch

  GtkTextBuffer* Buffer() const { return Gtk.gtk_text_view_get_buffer(GTK_TEXT_VIEW(FText)); }

  void PlaceCaret(size_t APosition, bool AAtEnd) {
    GtkTextIter at;
    gint count = Gtk.gtk_text_buffer_get_char_count(Buffer());
    if (AAtEnd)
      Gtk.gtk_text_buffer_get_end_iter(Buffer(), &at);
    else
      Gtk.gtk_text_buffer_get_iter_at_offset(Buffer(), &at, static_cast<gint>(std::min<size_t>(APosition, static_cast<size_t>(count))));
    Gtk.gtk_text_buffer_place_cursor(Buffer(), &at);
  }

  // Holds the view at the end of the text until the user moves it.
  void FollowEnd() {
    FHold = THold::End;
    KeepPlace();
  }
  // Puts the view back where it is held: the lines' heights are measured a few at a time
  // after the text changes, and every measure moves the end and the lines below the top.
  void KeepPlace() {
    if (FHold == THold::None || FKeepingPlace) return;
    GtkAdjustment* vertical = Gtk.gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(FText));
    double end = Gtk.gtk_adjustment_get_upper(vertical) - Gtk.gtk_adjustment_get_page_size(vertical);
    double to = end;
    if (FHold == THold::Line) {
      GtkTextIter top;
      Gtk.gtk_text_buffer_get_iter_at_mark(Buffer(), &top, FTopMark);
      gint y = 0, height = 0;
      Gtk.gtk_text_view_get_line_yrange(GTK_TEXT_VIEW(FText), &top, &y, &height);
      // from the text's coordinates to the scroll bar's, which count the top margin too
      GdkRectangle seen;
      Gtk.gtk_text_view_get_visible_rect(GTK_TEXT_VIEW(FText), &seen);
      to = std::min(end, y + (Gtk.gtk_adjustment_get_value(vertical) - seen.y));
    }
    to = std::max(to, Gtk.gtk_adjustment_get_lower(vertical));
    if (Gtk.gtk_adjustment_get_value(vertical) == to) return;
    FKeepingPlace = true;
    Gtk.gtk_adjustment_set_value(vertical, to);
    FKeepingPlace = false;
  }

  // The first line in view, from 0.
  size_t TopLine() const {
    GdkRectangle seen;
    Gtk.gtk_text_view_get_visible_rect(GTK_TEXT_VIEW(FText), &seen);
    GtkTextIter top;
    Gtk.gtk_text_view_get_line_at_y(GTK_TEXT_VIEW(FText), &top, seen.y, nullptr);
    return static_cast<size_t>(Gtk.gtk_text_iter_get_line(&top));
  }

  // Whether the last line is wholly in view (also when the text fits).
  bool LastLineInView() const {
    GdkRectangle seen;
    Gtk.gtk_text_view_get_visible_rect(GTK_TEXT_VIEW(FText), &seen);
    GtkTextIter end;
    Gtk.gtk_text_buffer_get_end_iter(Buffer(), &end);
    gint y = 0, height = 0;
    Gtk.gtk_text_view_get_line_yrange(GTK_TEXT_VIEW(FText), &end, &y, &height);
    return y + height <= seen.y + seen.height + 1;
  }

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
  std::string FCaption;
  GtkWidget* FWindow = nullptr;
  GtkWidget* FFiles = nullptr;
  GtkWidget* FFilesButton = nullptr;
  GtkWidget* FFolder = nullptr;
  GtkWidget* FFolderImage = nullptr;
  GtkWidget* FText = nullptr;
  GtkTextMark* FTopMark = nullptr;
  // Where the view is held until the user moves it: nowhere, at the end of the text, or with
  // the line of FTopMark at its top.
  enum class THold { None, End, Line };
  THold FHold = THold::None;
  bool FKeepingPlace = false;
  std::vector<GtkWidget*> FBoxes;  // open message boxes, the newest last
  std::vector<std::string> FNames;
  guint FTimer = 0;
  bool FQuiet = false;
  bool FClosed = false;
  bool FRefilledForList = false;  // the list about to open has been refilled
};

// ---- document window ----

// What an asynchronous call of the browser gives back; shared with its callback, which may
// come after the caller has stopped waiting.
struct TBrowserCall {
  bool Done = false;
  bool Ok = false;
  std::string Result;
};
using TBrowserCallPtr = std::shared_ptr<TBrowserCall>;

// Hands an address of the web or of mail to the desktop's program for it (or the test's
// stand-in); a failure leaves the help as it is.
void OpenExternal(const std::string& AUri) {
  if (OpenedByStandIn(AUri)) return;
  TError error;
  Gtk.g_app_info_launch_default_for_uri(AUri.c_str(), nullptr, &error);
}

// Alt+Left, or Backspace with no modifier.
bool GoesBack(const GdkEventKey* AEvent) {
  const guint modifiers = ModifiersOf(AEvent);
  if (AEvent->keyval == GDK_KEY_BackSpace) return modifiers == 0;
  return (AEvent->keyval == GDK_KEY_Left || AEvent->keyval == GDK_KEY_KP_Left) && modifiers == GDK_MOD1_MASK;
}

struct TDocumentWindow {
  GtkWidget* Window = nullptr;
  GtkWidget* Browser = nullptr;
  std::string Caption, Location, PageUri;
  guint Timer = 0;
  guint Idle = 0;
  bool Ready = false;
  bool Closed = false;

  // The hook is called from an idle step of its own, outside the browser's event handling,
  // so that it may wait for the browser's answers.
  void ReadySoon() {
    if (Ready || Closed || Idle) return;
    Idle = Gtk.g_idle_add(+[](gpointer ADoc) -> gboolean {
      auto* d = static_cast<TDocumentWindow*>(ADoc);
      d->Idle = 0;
      d->MakeReady();
      return G_SOURCE_REMOVE;
    }, this);
  }

  void MakeReady() {
    if (Ready || Closed) return;
    Ready = true;
    if (Timer) Gtk.g_source_remove(Timer);
    Timer = 0;
    if (auto hook = ReadyHook()) {
      try {
        hook(Probe());
      } catch (...) {
      }
    }
  }

  TWindowProbe Probe() {
    TWindowProbe probe;
    probe.Caption = Caption;
    probe.Location = Location;
    probe.Close = [this] {
      if (!Closed) Gtk.gtk_widget_destroy(Window);
    };
    probe.WaitFor = [this](int AMilliseconds, const std::function<bool()>& ACondition) {
      return RunEventsUntil(AMilliseconds, ACondition, Closed);
    };
    probe.Alive = [this] { return !Closed; };
    probe.PressKey = [this](const std::string& AKey) {
      if (!Closed) PressKeyOn(Window, AKey);
    };
    probe.FocusedControl = [this] {
      if (Closed) return std::string();
      GtkWidget* focus = Gtk.gtk_window_get_focus(GTK_WINDOW(Window));
      return focus && (focus == Browser || Gtk.gtk_widget_is_ancestor(focus, Browser)) ? std::string("browser") : std::string();
    };
    probe.MessageBoxes = [] { return std::vector<std::string>(); };
    probe.RunScript = [this](const std::string& AScript) { return RunScript(AScript); };
    probe.ResizeClient = [this](int AWidth, int AHeight) { return ResizeClient(AWidth, AHeight); };
    probe.Snapshot = [this](const std::string& APngPath) { return Snapshot(APngPath); };
    return probe;
  }

  // Waits for a call of the browser, at most the given time.
  bool WaitForCall(const TBrowserCallPtr& ACall, int AMilliseconds) {
    return RunEventsUntil(AMilliseconds, [&] { return ACall->Done; }, Closed) && ACall->Ok;
  }

  std::string RunScript(const std::string& AScript) {
    if (Closed) return "error: the window is closed";
    auto call = std::make_shared<TBrowserCall>();
    Web.webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(Browser), AScript.c_str(), static_cast<gssize>(AScript.size()), nullptr, nullptr, nullptr,
        +[](GObject* ASource, GAsyncResult* AResult, gpointer ACall) {
          std::unique_ptr<TBrowserCallPtr> held(static_cast<TBrowserCallPtr*>(ACall));
          TBrowserCall& c = **held;
          TError error;
          TRef<JSCValue> value(Web.webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(ASource), AResult, &error));
          if (value) {
            TGString text(Web.jsc_value_to_string(value.get()));
            c.Result = text ? text.get() : "";
            c.Ok = true;
          } else {
            c.Result = std::string("error: ") + error.Message("no result");
          }
          c.Done = true;
        },
        new TBrowserCallPtr(call));
    if (WaitForCall(call, 10000)) return call->Result;
    return call->Done ? call->Result : std::string("error: no answer from the page");
  }

  bool ResizeClient(int AWidth, int AHeight) {
    if (Closed || AWidth <= 0 || AHeight <= 0) return false;
    Gtk.gtk_window_resize(GTK_WINDOW(Window), AWidth, AHeight);
    return RunEventsUntil(5000, [&] {
      GtkAllocation size;
      Gtk.gtk_widget_get_allocation(Browser, &size);
      return size.width == AWidth && size.height == AHeight;
    }, Closed);
  }

  bool Snapshot(const std::string& APngPath) {
    if (Closed) return false;
    auto call = std::make_shared<TBrowserCall>();
    call->Result = APngPath;
    Web.webkit_web_view_get_snapshot(
        WEBKIT_WEB_VIEW(Browser), WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        +[](GObject* ASource, GAsyncResult* AResult, gpointer ACall) {
          std::unique_ptr<TBrowserCallPtr> held(static_cast<TBrowserCallPtr*>(ACall));
          TBrowserCall& c = **held;
          cairo_surface_t* image = Web.webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(ASource), AResult, nullptr);
          if (image) {
            c.Ok = Web.cairo_surface_write_to_png(image, c.Result.c_str()) == CAIRO_STATUS_SUCCESS;
            Web.cairo_surface_destroy(image);
          }
          c.Done = true;
        },
        new TBrowserCallPtr(call));
    return WaitForCall(call, 10000);
  }
};

}  // namespace

void RunLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents) {
  EnsureToolkit();
  TGtkLogWindow window(ACaption, AEvents);
  window.Run(ACaption);
}

void OpenFolderInShell(const std::string& AFolder) {
  toolkit::LoadGtk();
  TGString uri(Gtk.g_filename_to_uri(AFolder.c_str(), nullptr, nullptr));
  if (!uri) throw std::runtime_error("Не удалось открыть папку: " + AFolder);
  TError error;
  gboolean ok = Gtk.g_app_info_launch_default_for_uri(uri.get(), nullptr, &error);
  if (!ok) {
    std::string message = error.Message(AFolder.c_str());
    throw std::runtime_error("Не удалось открыть папку: " + message);
  }
}

void RunDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption) {
  // The web engine is needed only here: the log window works without it.
  toolkit::LoadWeb();
  EnsureToolkit();
  TGString uri(Gtk.g_filename_to_uri(AHtmlFilePath.c_str(), nullptr, nullptr));
  if (!uri) throw std::runtime_error("File not found: " + AHtmlFilePath);
  TDocumentWindow doc;
  doc.Caption = ACaption;
  doc.Location = AHtmlFilePath;
  doc.Window = Gtk.gtk_window_new(GTK_WINDOW_TOPLEVEL);
  Gtk.gtk_window_set_title(GTK_WINDOW(doc.Window), DisplayableText(ACaption).c_str());
  Gtk.gtk_window_set_default_size(GTK_WINDOW(doc.Window), Scaled(633), Scaled(425));
  Gtk.gtk_window_set_position(GTK_WINDOW(doc.Window), GTK_WIN_POS_CENTER);
  Gtk.gtk_window_set_modal(GTK_WINDOW(doc.Window), TRUE);
  Gtk.gtk_window_set_icon_name(GTK_WINDOW(doc.Window), "help-browser");
  doc.Browser = Web.webkit_web_view_new();
  Gtk.gtk_container_add(GTK_CONTAINER(doc.Window), doc.Browser);
  doc.PageUri = uri.get();
  // Esc closes the window, before the page sees the key; Alt+Left and Backspace go back to the
  // page shown before, as in a browser.
  Connect(doc.Window, "key-press-event", G_CALLBACK(+[](GtkWidget* AWindow, GdkEventKey* AEvent, gpointer ADoc) -> gboolean {
                     if (IsEscape(AEvent)) {
                       Gtk.gtk_widget_destroy(AWindow);
                       return TRUE;
                     }
                     if (!GoesBack(AEvent)) return FALSE;
                     WebKitWebView* view = WEBKIT_WEB_VIEW(static_cast<TDocumentWindow*>(ADoc)->Browser);
                     if (Web.webkit_web_view_can_go_back(view)) Web.webkit_web_view_go_back(view);
                     return TRUE;
                   }),
                   &doc);
  // A followed link is shown in the window only when it stays in the page or the help's own
  // folder; an address of the web or of mail goes to the system's program for it.
  Connect(doc.Browser, "decide-policy",
          G_CALLBACK(+[](WebKitWebView* AView, WebKitPolicyDecision* ADecision, WebKitPolicyDecisionType AType, gpointer ADoc) -> gboolean {
            if (AType != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && AType != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
              return FALSE;
            WebKitNavigationAction* action = Web.webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(ADecision));
            WebKitURIRequest* request = action ? Web.webkit_navigation_action_get_request(action) : nullptr;
            const gchar* target = request ? Web.webkit_uri_request_get_uri(request) : nullptr;
            std::string link = target ? target : "";
            switch (LinkActionFor(link, static_cast<TDocumentWindow*>(ADoc)->PageUri)) {
              case TLinkAction::Show:
                if (AType == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
                  Web.webkit_policy_decision_use(ADecision);
                } else {
                  // a link that asks for a window of its own is shown in this one
                  Web.webkit_policy_decision_ignore(ADecision);
                  Web.webkit_web_view_load_uri(AView, link.c_str());
                }
                return TRUE;
              case TLinkAction::External:
                Web.webkit_policy_decision_ignore(ADecision);
                OpenExternal(link);
                return TRUE;
              case TLinkAction::Refuse:
                break;
            }
            Web.webkit_policy_decision_ignore(ADecision);
            return TRUE;
          }),
          &doc);
  Connect(doc.Window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer ADoc) {
                     auto* d = static_cast<TDocumentWindow*>(ADoc);
                     d->Closed = true;
                     if (d->Timer) Gtk.g_source_remove(d->Timer);
                     d->Timer = 0;
                     if (d->Idle) Gtk.g_source_remove(d->Idle);
                     d->Idle = 0;
                   }),
                   &doc);
  Connect(doc.Browser, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent AEvent, gpointer ADoc) {
                     if (AEvent == WEBKIT_LOAD_FINISHED) static_cast<TDocumentWindow*>(ADoc)->ReadySoon();
                   }),
                   &doc);
  Web.webkit_web_view_load_uri(WEBKIT_WEB_VIEW(doc.Browser), uri.get());
  Gtk.gtk_widget_show_all(doc.Window);
  Gtk.gtk_widget_grab_focus(doc.Browser);
  doc.Timer = Gtk.g_timeout_add(5000, +[](gpointer ADoc) -> gboolean {
    auto* d = static_cast<TDocumentWindow*>(ADoc);
    d->Timer = 0;
    d->MakeReady();
    return G_SOURCE_REMOVE;
  }, &doc);
  if (!doc.Closed) RunUntilDestroyed(doc.Window);
  while (Gtk.gtk_events_pending()) Gtk.gtk_main_iteration_do(FALSE);
}

void SetWindowReadyHook(std::function<void(const TWindowProbe&)> AHook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  gReadyHook = std::move(AHook);
}

bool JoinMultithreadedApartment() { return false; }
void LeaveApartment() {}

}  // namespace qd::platform::window
