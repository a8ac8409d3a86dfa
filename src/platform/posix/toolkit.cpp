#include "platform/posix/toolkit.h"

#include <dlfcn.h>

#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>

namespace qd::platform::toolkit {

TGtkFunctions Gtk;
TWebFunctions Web;

namespace {

const char kMsgPrefix[] = "Окно не может быть показано: ";

constexpr int kLibraryCount = static_cast<int>(TLibrary::Cairo) + 1;

// Loading is serialised; the tables and flags are written only under the lock, and a thread
// reads a table only after a load call of its own has seen it filled.
struct TState {
  std::mutex Lock;
  void* Handles[kLibraryCount] = {};
  bool GtkFilled = false;
  bool WebFilled = false;
};

TState& State() {
  static TState* state = new TState;  // never destroyed: a window may be open at exit
  return *state;
}

std::string Described(TLibrary ALibrary) {
  TLibraryName name = LibraryName(ALibrary);
  return std::string(name.Product) + " (" + name.Soname + ")";
}

// Opens the library once; a library already in the process is handed back as it is. It is
// never closed, and stays even if the process's other holders let it go.
void* Open(TState& AState, TLibrary ALibrary) {
  void*& handle = AState.Handles[static_cast<int>(ALibrary)];
  if (handle) return handle;
  handle = dlopen(LibraryName(ALibrary).Soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    (void)dlerror();  // the loader's own text is not the user's language; the name says it
    throw std::runtime_error(std::string(kMsgPrefix) + "не удалось загрузить библиотеку " + Described(ALibrary));
  }
  return handle;
}

template <typename TFunction>
void Resolve(const TState& AState, TLibrary ALibrary, const char* AName, TFunction& AEntry) {
  void* address = dlsym(AState.Handles[static_cast<int>(ALibrary)], AName);
  if (!address) {
    (void)dlerror();
    throw std::runtime_error(std::string(kMsgPrefix) + "в библиотеке " + Described(ALibrary) + " нет функции " + AName);
  }
  AEntry = reinterpret_cast<TFunction>(address);
}

void LoadGtkLocked(TState& AState) {
  if (AState.GtkFilled) return;
  for (TLibrary library : {TLibrary::Glib, TLibrary::Gobject, TLibrary::Gio, TLibrary::Atk, TLibrary::Gdk, TLibrary::Gtk})
    Open(AState, library);
  TGtkFunctions table;
#define QD_TOOLKIT_RESOLVE(ALibrary, AFunction) Resolve(AState, TLibrary::ALibrary, #AFunction, table.AFunction);
  QD_TOOLKIT_GTK_FUNCTIONS(QD_TOOLKIT_RESOLVE)
  Gtk = table;
  AState.GtkFilled = true;
}

void LoadWebLocked(TState& AState) {
  LoadGtkLocked(AState);
  if (AState.WebFilled) return;
  for (TLibrary library : {TLibrary::WebKit, TLibrary::JavaScriptCore, TLibrary::Cairo}) Open(AState, library);
  TWebFunctions table;
  QD_TOOLKIT_WEB_FUNCTIONS(QD_TOOLKIT_RESOLVE)
  Web = table;
  AState.WebFilled = true;
}

#undef QD_TOOLKIT_RESOLVE

}  // namespace

TLibraryName LibraryName(TLibrary ALibrary) {
  switch (ALibrary) {
    case TLibrary::Glib: return {"libglib-2.0.so.0", "GLib"};
    case TLibrary::Gobject: return {"libgobject-2.0.so.0", "GLib"};
    case TLibrary::Gio: return {"libgio-2.0.so.0", "GLib"};
    case TLibrary::Atk: return {"libatk-1.0.so.0", "GTK 3"};
    case TLibrary::Gdk: return {"libgdk-3.so.0", "GTK 3"};
    case TLibrary::Gtk: return {"libgtk-3.so.0", "GTK 3"};
    case TLibrary::WebKit: return {"libwebkit2gtk-4.1.so.0", "WebKitGTK"};
    case TLibrary::JavaScriptCore: return {"libjavascriptcoregtk-4.1.so.0", "WebKitGTK"};
    case TLibrary::Cairo: return {"libcairo.so.2", "cairo"};
  }
  return {"", ""};
}

void LoadGtk() {
  TState& state = State();
  std::lock_guard<std::mutex> guard(state.Lock);
  LoadGtkLocked(state);
}

void LoadWeb() {
  TState& state = State();
  std::lock_guard<std::mutex> guard(state.Lock);
  LoadWebLocked(state);
}

}  // namespace qd::platform::toolkit
