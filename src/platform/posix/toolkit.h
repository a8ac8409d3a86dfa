// The desktop toolkit as the Linux windows reach it. The module links none of its libraries:
// GTK 3 (with GDK, GLib, GObject and GIO) is opened by its sonames the first time a window is
// shown, WebKitGTK (with JavaScriptCore and cairo) the first time the document window is, and
// every toolkit function the windows call is an entry of a table filled then, each typed from
// the toolkit's own declaration. A process that already holds these libraries gets the same
// ones back; once opened they stay to the end of the process, as the toolkit registers its
// types with the process for good.
//
// The module is linked with every reference defined, so a call that bypasses these tables
// does not build. The casts of the toolkit's headers are plain casts here (their checks would
// call the type system directly); type tests go through the table.
#pragma once

#ifndef G_DISABLE_CAST_CHECKS
#define G_DISABLE_CAST_CHECKS
#endif
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

// A macro of GLib's headers that would hide the table's entry of the same name.
#undef g_object_ref

namespace qd::platform::toolkit {

// X(library, function): every function the windows call, by the library that defines it.
#define QD_TOOLKIT_GTK_FUNCTIONS(X)                                                                \
  X(Glib, g_error_free) X(Glib, g_filename_to_uri) X(Glib, g_free) X(Glib, g_get_monotonic_time)  \
  X(Glib, g_idle_add) X(Glib, g_main_context_iteration) X(Glib, g_main_loop_new)                  \
  X(Glib, g_main_loop_quit) X(Glib, g_main_loop_run) X(Glib, g_main_loop_unref)                   \
  X(Glib, g_source_remove) X(Glib, g_timeout_add) X(Glib, g_usleep) X(Glib, g_utf8_casefold)      \
  X(Glib, g_utf8_validate)                                                                        \
  X(Gobject, g_object_get) X(Gobject, g_object_ref) X(Gobject, g_object_unref)                    \
  X(Gobject, g_signal_connect_data) X(Gobject, g_type_check_instance_is_a)                        \
  X(Gio, g_app_info_launch_default_for_uri)                                                       \
  X(Atk, atk_object_get_name) X(Atk, atk_object_set_name)                                         \
  X(Gdk, gdk_display_get_default_seat) X(Gdk, gdk_event_free) X(Gdk, gdk_event_new)               \
  X(Gdk, gdk_event_set_device) X(Gdk, gdk_keymap_get_entries_for_keyval)                          \
  X(Gdk, gdk_keymap_get_for_display) X(Gdk, gdk_keyval_from_name) X(Gdk, gdk_screen_get_default)  \
  X(Gdk, gdk_screen_get_resolution) X(Gdk, gdk_seat_get_keyboard) X(Gdk, gdk_seat_get_pointer)    \
  X(Gtk, gtk_adjustment_get_lower) X(Gtk, gtk_adjustment_get_page_size)                           \
  X(Gtk, gtk_adjustment_get_upper) X(Gtk, gtk_adjustment_get_value)                               \
  X(Gtk, gtk_adjustment_set_value) X(Gtk, gtk_box_new) X(Gtk, gtk_box_pack_start)                 \
  X(Gtk, gtk_button_set_relief)                                                                   \
  X(Gtk, gtk_combo_box_get_active) X(Gtk, gtk_combo_box_popup) X(Gtk, gtk_combo_box_set_active)  \
  X(Gtk, gtk_button_new) X(Gtk, gtk_button_set_image) X(Gtk, gtk_image_new_from_icon_name)        \
  X(Gtk, gtk_image_get_pixel_size) X(Gtk, gtk_image_set_pixel_size)                               \
  X(Gtk, gtk_widget_get_accessible) X(Gtk, gtk_widget_get_tooltip_text)                           \
  X(Gtk, gtk_widget_set_tooltip_text)                                                             \
  X(Gtk, gtk_combo_box_text_append_text) X(Gtk, gtk_combo_box_text_new)                           \
  X(Gtk, gtk_combo_box_text_remove_all) X(Gtk, gtk_container_add) X(Gtk, gtk_container_forall)    \
  X(Gtk, gtk_container_get_type) X(Gtk, gtk_css_provider_load_from_data)                          \
  X(Gtk, gtk_css_provider_new) X(Gtk, gtk_dialog_get_widget_for_response)                         \
  X(Gtk, gtk_dialog_set_default_response) X(Gtk, gtk_events_pending) X(Gtk, gtk_init_check)       \
  X(Gtk, gtk_main_do_event) X(Gtk, gtk_main_iteration_do) X(Gtk, gtk_message_dialog_new)          \
  X(Gtk, gtk_scrollable_get_vadjustment) X(Gtk, gtk_scrolled_window_get_vscrollbar)               \
  X(Gtk, gtk_scrolled_window_new) X(Gtk, gtk_scrolled_window_set_policy)                          \
  X(Gtk, gtk_scrolled_window_set_shadow_type) X(Gtk, gtk_style_context_add_provider_for_screen)   \
  X(Gtk, gtk_text_buffer_create_mark) X(Gtk, gtk_text_buffer_get_bounds)                          \
  X(Gtk, gtk_text_buffer_get_char_count) X(Gtk, gtk_text_buffer_get_end_iter)                     \
  X(Gtk, gtk_text_buffer_get_insert) X(Gtk, gtk_text_buffer_get_iter_at_line)                     \
  X(Gtk, gtk_text_buffer_get_iter_at_mark) X(Gtk, gtk_text_buffer_get_iter_at_offset)             \
  X(Gtk, gtk_text_buffer_get_start_iter) X(Gtk, gtk_text_buffer_get_text)                         \
  X(Gtk, gtk_text_buffer_move_mark) X(Gtk, gtk_text_buffer_place_cursor)                          \
  X(Gtk, gtk_text_buffer_set_text) X(Gtk, gtk_text_iter_get_line) X(Gtk, gtk_text_iter_get_offset) \
  X(Gtk, gtk_text_buffer_insert)                                                                  \
  X(Gtk, gtk_text_iter_is_end) X(Gtk, gtk_text_view_get_bottom_margin)                            \
  X(Gtk, gtk_text_view_get_buffer) X(Gtk, gtk_text_view_get_left_margin)                          \
  X(Gtk, gtk_text_view_get_line_at_y) X(Gtk, gtk_text_view_get_line_yrange)                       \
  X(Gtk, gtk_text_view_get_right_margin) X(Gtk, gtk_text_view_get_top_margin)                     \
  X(Gtk, gtk_text_view_get_visible_rect) X(Gtk, gtk_text_view_new)                                \
  X(Gtk, gtk_text_view_scroll_to_mark) X(Gtk, gtk_text_view_set_bottom_margin)                    \
  X(Gtk, gtk_text_view_set_cursor_visible) X(Gtk, gtk_text_view_set_editable)                     \
  X(Gtk, gtk_text_view_set_left_margin) X(Gtk, gtk_text_view_set_right_margin)                    \
  X(Gtk, gtk_text_view_set_top_margin) X(Gtk, gtk_text_view_set_wrap_mode)                        \
  X(Gtk, gtk_toggle_button_get_type) X(Gtk, gtk_widget_destroy) X(Gtk, gtk_widget_event)          \
  X(Gtk, gtk_widget_get_allocated_height) X(Gtk, gtk_widget_get_allocation)                       \
  X(Gtk, gtk_widget_get_display) X(Gtk, gtk_widget_get_mapped) X(Gtk, gtk_widget_get_realized)    \
  X(Gtk, gtk_widget_get_screen) X(Gtk, gtk_widget_get_window) X(Gtk, gtk_widget_grab_focus)       \
  X(Gtk, gtk_widget_is_ancestor) X(Gtk, gtk_widget_set_name) X(Gtk, gtk_widget_set_size_request)  \
  X(Gtk, gtk_widget_set_valign) X(Gtk, gtk_widget_show) X(Gtk, gtk_widget_show_all)               \
  X(Gtk, gtk_window_get_focus) X(Gtk, gtk_window_get_title) X(Gtk, gtk_window_new)                \
  X(Gtk, gtk_window_resize) X(Gtk, gtk_window_set_default_size) X(Gtk, gtk_window_set_icon_name)  \
  X(Gtk, gtk_window_set_modal) X(Gtk, gtk_window_set_position) X(Gtk, gtk_window_set_title)

// The document window's web engine, on top of GTK.
#define QD_TOOLKIT_WEB_FUNCTIONS(X)                                                                \
  X(WebKit, webkit_web_view_evaluate_javascript) X(WebKit, webkit_web_view_evaluate_javascript_finish) \
  X(WebKit, webkit_web_view_get_snapshot) X(WebKit, webkit_web_view_get_snapshot_finish)          \
  X(WebKit, webkit_web_view_load_uri) X(WebKit, webkit_web_view_new)                              \
  X(WebKit, webkit_web_view_can_go_back) X(WebKit, webkit_web_view_go_back)                       \
  X(WebKit, webkit_navigation_policy_decision_get_navigation_action)                              \
  X(WebKit, webkit_navigation_action_get_request) X(WebKit, webkit_uri_request_get_uri)           \
  X(WebKit, webkit_policy_decision_ignore) X(WebKit, webkit_policy_decision_use)                  \
  X(JavaScriptCore, jsc_value_to_string)                                                          \
  X(Cairo, cairo_surface_destroy) X(Cairo, cairo_surface_write_to_png)

#define QD_TOOLKIT_ENTRY(ALibrary, AFunction) decltype(&::AFunction) AFunction = nullptr;

struct TGtkFunctions {
  QD_TOOLKIT_GTK_FUNCTIONS(QD_TOOLKIT_ENTRY)
};

struct TWebFunctions {
  QD_TOOLKIT_WEB_FUNCTIONS(QD_TOOLKIT_ENTRY)
};

#undef QD_TOOLKIT_ENTRY

// The libraries, opened in this order, each by its soname.
enum class TLibrary { Glib, Gobject, Gio, Atk, Gdk, Gtk, WebKit, JavaScriptCore, Cairo };

struct TLibraryName {
  const char* Soname;   // what is opened
  const char* Product;  // what the user installs, as messages name it
};
TLibraryName LibraryName(TLibrary ALibrary);

// The tables: filled by LoadGtk and LoadWeb, read only after one of them has succeeded on the
// calling thread (the windows' code runs only then).
extern TGtkFunctions Gtk;
extern TWebFunctions Web;

// Open the libraries of the table and fill it, once for the process; later calls return at
// once. A library that cannot be opened, or lacks a function, throws std::runtime_error with a
// message for the user that names it; nothing is printed, and a later call tries again.
void LoadGtk();
void LoadWeb();  // GTK first

}  // namespace qd::platform::toolkit
