// The driver's two modal windows on Windows: the log window is a plain window with standard
// controls, the document window hosts the system's web browser control through OLE in-place
// activation. Both run their own message loop on the calling thread until they are destroyed.
#include "platform/window.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <exdisp.h>
#include <exdispid.h>
#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/links.h"
#include "platform/win32/handle.h"
#include "platform/win32/wintext.h"

namespace qd::platform::window {

const char kMsgNoDisplay[] = "Окно не может быть показано: графический экран недоступен";

namespace {

using win::Narrow;
using win::Widen;

const char kMsgNoBrowser[] = "Встроенный веб-браузер недоступен";

// Layouts are designed at 120 dots per inch.
constexpr int kDesignDpi = 120;
constexpr int kLogClientWidth = 633;
constexpr int kLogClientHeight = 293;
constexpr int kDocClientWidth = 633;
constexpr int kDocClientHeight = 425;
// The log window's tool strip across the top: the file list, and the folder button right of
// it; the text fills the client area below the strip.
constexpr int kStripHeight = 32;
constexpr int kListLeft = 13;
constexpr int kListTop = 5;
constexpr int kListWidth = 257;
constexpr int kListDropHeight = 200;
constexpr int kButtonTop = 4;
constexpr int kButtonWidth = 23;
constexpr int kButtonHeight = 24;
constexpr int kFontHeight = 13;  // Tahoma, character height
constexpr int kTextMargin = 6;   // between the log text and its frame, left and right

constexpr int kIdFiles = 101;
constexpr int kIdOpenDir = 102;
constexpr int kIdLog = 103;
constexpr UINT_PTR kCheckFileTimer = 1;
constexpr UINT kCheckFileInterval = 1000;
constexpr UINT_PTR kReadyTimer = 2;
constexpr UINT kReadyTimeout = 5000;

const wchar_t kLogClass[] = L"QdLogWindow";
const wchar_t kDocClass[] = L"QdDocumentWindow";

// ---------------------------------------------------------------------------------------------
// Shared pieces

std::mutex gHookLock;
std::function<void(const TWindowProbe&)> gReadyHook;

std::function<void(const TWindowProbe&)> CurrentHook() {
  std::lock_guard<std::mutex> lock(gHookLock);
  return gReadyHook;
}

// The module that holds this code; window classes are registered for it.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module ? module : GetModuleHandleW(nullptr);
}

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

class TScaler {
 public:
  TScaler() : FDpi(ScreenDpi()) {}
  int operator()(int AValue) const { return MulDiv(AValue, FDpi, kDesignDpi); }

 private:
  int FDpi;
};

// Registers a window class for the duration of one window and removes it afterwards, so that
// no class points into a module that may be unloaded later.
class TWindowClass {
 public:
  TWindowClass(const wchar_t* AName, WNDPROC AProc, HICON ALarge, HICON ASmall) : FName(AName) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = AProc;
    wc.hInstance = ThisModule();
    wc.hIcon = ALarge;
    wc.hIconSm = ASmall;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = AName;
    if (RegisterClassExW(&wc)) {
      FOwned = true;
    } else if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      throw std::runtime_error(kMsgNoDisplay);
    }
  }
  ~TWindowClass() {
    if (FOwned) UnregisterClassW(FName, ThisModule());
  }
  TWindowClass(const TWindowClass&) = delete;
  TWindowClass& operator=(const TWindowClass&) = delete;

 private:
  const wchar_t* FName;
  bool FOwned = false;
};

// An icon handle that is destroyed with its owner (shared system icons are not).
class TIcon {
 public:
  TIcon() = default;
  TIcon(HICON AIcon, bool AOwned) : FIcon(AIcon), FOwned(AOwned) {}
  ~TIcon() {
    if (FIcon && FOwned) DestroyIcon(FIcon);
  }
  TIcon(TIcon&& AOther) noexcept : FIcon(std::exchange(AOther.FIcon, nullptr)), FOwned(AOther.FOwned) {}
  TIcon& operator=(TIcon&&) = delete;
  HICON Get() const { return FIcon; }

 private:
  HICON FIcon = nullptr;
  bool FOwned = false;
};

// An icon of shell32.dll by its resource number, else the shell's stock icon, else the generic
// application icon.
TIcon ShellIcon(int AResource, SHSTOCKICONID AStock, bool ASmall) {
  HICON icon = nullptr;
  if (ExtractIconExW(L"shell32.dll", -AResource, ASmall ? nullptr : &icon, ASmall ? &icon : nullptr, 1) > 0 && icon)
    return TIcon(icon, true);
  SHSTOCKICONINFO info{};
  info.cbSize = sizeof(info);
  if (SUCCEEDED(SHGetStockIconInfo(AStock, SHGSI_ICON | (ASmall ? SHGSI_SMALLICON : SHGSI_LARGEICON), &info)) &&
      info.hIcon)
    return TIcon(info.hIcon, true);
  return TIcon(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)), false);
}

// Resource numbers in shell32.dll: 4 the closed folder, 2 a document.
constexpr int kFolderIcon = 4;
constexpr int kDocumentIcon = 2;

struct TWindowIcons {
  TIcon Large = ShellIcon(kDocumentIcon, SIID_DOCASSOC, false);
  TIcon Small = ShellIcon(kDocumentIcon, SIID_DOCASSOC, true);
};

// Window rectangle of the given client size, centred on the screen.
RECT CentredWindowRect(int AClientWidth, int AClientHeight, DWORD AStyle, DWORD AExStyle) {
  RECT rc{0, 0, AClientWidth, AClientHeight};
  AdjustWindowRectEx(&rc, AStyle, FALSE, AExStyle);
  int width = rc.right - rc.left;
  int height = rc.bottom - rc.top;
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  return RECT{left, top, left + width, top + height};
}

// What both windows share: the handle, the end of the modal run, the ready hook.
struct TWindowState {
  HWND Handle = nullptr;
  // The thread whose windows the modal window disables: the one that asked for it.
  DWORD OwnerThread = GetCurrentThreadId();
  bool Destroyed = false;
  bool Ready = false;
  std::string Caption;
  std::string Location;
  // log window: what its probe offers beside Close
  std::function<void()> OpenFileList;
  std::function<bool()> FileListOpen;
  // What else the window's probe offers.
  std::function<void(TWindowProbe&)> ExtendProbe;
  // The window's own handling of a message before it is dispatched (keys for its controls).
  std::function<bool(MSG&)> PreTranslate;
  // Lets a probe's Close tell whether its window still exists.
  std::shared_ptr<HWND> Alive = std::make_shared<HWND>(nullptr);
  std::exception_ptr HookError;

  // The thread's other windows (the host's) that the modal showing has disabled.
  std::vector<HWND> Disabled;

  void RequestClose() {
    if (Handle && !Destroyed) PostMessageW(Handle, WM_CLOSE, 0, 0);
  }

  // A modal window keeps the user away from the thread's other windows while it is open.
  void DisableOthers() {
    EnumThreadWindows(
        OwnerThread,
        [](HWND AWnd, LPARAM AState) -> BOOL {
          auto* state = reinterpret_cast<TWindowState*>(AState);
          if (AWnd != state->Handle && IsWindowVisible(AWnd) && IsWindowEnabled(AWnd)) state->Disabled.push_back(AWnd);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    for (HWND other : Disabled) EnableWindow(other, FALSE);
  }

  // Called before the window goes, so that the activation returns to the host's window.
  void EnableOthers() {
    for (HWND other : Disabled)
      if (IsWindow(other)) EnableWindow(other, TRUE);
    Disabled.clear();
  }

  // Handles the thread's messages as the window's loop does until the condition holds, the
  // window is gone or the time is up. A WM_QUIT is left for the loop.
  bool RunMessagesUntil(int AMilliseconds, const std::function<bool()>& ACondition) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(AMilliseconds > 0 ? AMilliseconds : 0);
    for (;;) {
      if (ACondition && ACondition()) return true;
      if (Destroyed || GetTickCount64() >= deadline) return false;
      MSG msg;
      if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        continue;
      }
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return ACondition && ACondition();
      }
      if (PreTranslate && PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  // A key pressed and released on the control that has the focus, through the window's
  // message loop as the user's keys go; the modifiers are held in the thread's key state
  // meanwhile. "shift+Tab", "ctrl+End"...
  void PressKey(const std::string& AKey) {
    if (Destroyed) return;
    std::string name = AKey;
    bool shift = false, control = false, alt = false;
    for (;;) {
      if (name.rfind("shift+", 0) == 0) {
        shift = true;
        name.erase(0, 6);
      } else if (name.rfind("ctrl+", 0) == 0) {
        control = true;
        name.erase(0, 5);
      } else if (name.rfind("alt+", 0) == 0) {
        alt = true;
        name.erase(0, 4);
      } else {
        break;
      }
    }
    static const struct {
      const char* Name;
      UINT Key;
    } kKeys[] = {{"Tab", VK_TAB},   {"Return", VK_RETURN}, {"Escape", VK_ESCAPE},   {"space", VK_SPACE},
                 {"End", VK_END},   {"Home", VK_HOME},     {"Page_Down", VK_NEXT}, {"Page_Up", VK_PRIOR},
                 {"Down", VK_DOWN}, {"Left", VK_LEFT},     {"BackSpace", VK_BACK}, {"F4", VK_F4}};
    UINT key = 0;
    for (const auto& k : kKeys)
      if (name == k.Name) key = k.Key;
    if (key == 0) return;
    HWND target = GetFocus();
    if (!target) target = Handle;
    BYTE saved[256] = {};
    GetKeyboardState(saved);
    BYTE held[256];
    std::copy(std::begin(saved), std::end(saved), std::begin(held));
    if (shift) held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
    if (control) held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
    if (alt) held[VK_MENU] = held[VK_LMENU] = 0x80;
    SetKeyboardState(held);
    // With Alt held the system sends its own key messages, which say so in bit 29.
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16 | (alt ? LPARAM{1} << 29 : 0);
    PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, scan | 1);
    PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, key, scan | 1 | (LPARAM{1} << 30) | (LPARAM{1} << 31));
    // Until both have been handled (and whatever they posted in turn).
    RunMessagesUntil(2000, [] {
      MSG peek;
      return !PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE);
    });
    SetKeyboardState(saved);
  }

  // Calls the ready hook once; a failing hook closes the window and its error is raised by
  // the run once the window is gone.
  void FireReady() {
    if (Ready || Destroyed) return;
    Ready = true;
    auto hook = CurrentHook();
    if (!hook) return;
    TWindowProbe probe;
    probe.Caption = Caption;
    probe.Location = Location;
    probe.OpenFileList = OpenFileList;
    probe.FileListOpen = FileListOpen;
    probe.WaitFor = [this](int AMilliseconds, const std::function<bool()>& ACondition) {
      return RunMessagesUntil(AMilliseconds, ACondition);
    };
    probe.Alive = [this] { return !Destroyed; };
    probe.PressKey = [this](const std::string& AKey) { PressKey(AKey); };
    if (ExtendProbe) ExtendProbe(probe);
    std::weak_ptr<HWND> alive = Alive;
    probe.Close = [alive] {
      if (auto handle = alive.lock(); handle && *handle) PostMessageW(*handle, WM_CLOSE, 0, 0);
    };
    try {
      hook(probe);
    } catch (...) {
      if (!HookError) HookError = std::current_exception();
      RequestClose();
    }
  }
};

// Runs messages until the window is destroyed. A WM_QUIT that arrives meanwhile belongs to an
// outer loop: the window is destroyed and the quit is posted again for that loop.
template <typename TPreTranslate>
void ModalLoop(TWindowState& AState, TPreTranslate APreTranslate) {
  while (!AState.Destroyed) {
    MSG msg;
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      if (!AState.Destroyed) DestroyWindow(AState.Handle);
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) {
      if (!AState.Destroyed) DestroyWindow(AState.Handle);
      break;
    }
    if (APreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// UTF-16 code units <-> characters (code points) of a text.
size_t UnitsToChars(const std::wstring& AText, size_t AUnits) {
  if (AUnits > AText.size()) AUnits = AText.size();
  size_t chars = 0;
  for (size_t i = 0; i < AUnits; ++i) {
    if (IS_LOW_SURROGATE(AText[i]) && i > 0 && IS_HIGH_SURROGATE(AText[i - 1])) continue;
    ++chars;
  }
  return chars;
}

size_t CharsToUnits(const std::wstring& AText, size_t AChars) {
  size_t i = 0;
  for (size_t chars = 0; i < AText.size() && chars < AChars; ++chars) {
    i += (IS_HIGH_SURROGATE(AText[i]) && i + 1 < AText.size() && IS_LOW_SURROGATE(AText[i + 1])) ? 2 : 1;
  }
  return i;
}

// The text control wants CR LF line ends; lone LF become CR LF.
std::wstring WithCrLf(const std::wstring& AText) {
  std::wstring out;
  out.reserve(AText.size() + AText.size() / 32);
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == L'\n' && (i == 0 || AText[i - 1] != L'\r')) out += L'\r';
    out += AText[i];
  }
  return out;
}

std::wstring WindowText(HWND AWindow) {
  int len = GetWindowTextLengthW(AWindow);
  if (len <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  int got = GetWindowTextW(AWindow, text.data(), len + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Log window

// Window procedure of a window object: the object arrives with WM_NCCREATE and is kept in the
// window's user data; closing and destroying are alike for both windows, the rest is the
// object's own. Once the window is destroyed, messages go to the default procedure.
template <typename T>
LRESULT ObjectWndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
  if (AMsg == WM_NCCREATE) {
    self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
    SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->FState.Handle = AWnd;
    *self->FState.Alive = AWnd;
  }
  if (!self || self->FState.Destroyed) return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
  TWindowState& state = self->FState;
  switch (AMsg) {
    case WM_CLOSE:
      // The host's windows are enabled again first, so that the activation returns to them.
      state.EnableOthers();
      DestroyWindow(AWnd);
      return 0;
    case WM_DESTROY:
      self->Message(AMsg, AWParam, ALParam);  // the window's own clean-up
      state.EnableOthers();
      state.Destroyed = true;
      *state.Alive = nullptr;
      return 0;
    default:
      return self->Message(AMsg, AWParam, ALParam);
  }
}

class TLogWindow final : public TLogWindowView {
 public:
  TLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents) : FEvents(AEvents) {
    FState.Caption = ACaption;
  }
  ~TLogWindow() {
    if (FFont) DeleteObject(FFont);
    if (FFolderIcon) DestroyIcon(FFolderIcon);
  }

  void Run() {
    TWindowIcons icons;
    TIcon folder = ShellIcon(kFolderIcon, SIID_FOLDER, true);
    TWindowClass windowClass(kLogClass, &TLogWindow::WndProc, icons.Large.Get(), icons.Small.Get());
    TScaler scale;
    FScale = scale;

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = 0;
    RECT rc = CentredWindowRect(scale(kLogClientWidth), scale(kLogClientHeight), style, exStyle);
    HWND hwnd = CreateWindowExW(exStyle, kLogClass, Widen(FState.Caption).c_str(), style, rc.left, rc.top,
                                rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, ThisModule(), this);
    if (!hwnd) throw std::runtime_error(kMsgNoDisplay);
    struct TDestroyOnExit {
      TLogWindow* Self;
      ~TDestroyOnExit() {
        if (!Self->FState.Destroyed) DestroyWindow(Self->FState.Handle);
      }
    } destroyOnExit{this};

    FFont = CreateFontW(-scale(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        L"Tahoma");
    CreateControls(folder.Get());
    SetTimer(hwnd, kCheckFileTimer, kCheckFileInterval, nullptr);

    Handle(&TLogWindowEvents::FormCreate);
    if (!FState.Destroyed) {
      FState.DisableOthers();
      ShowWindow(hwnd, SW_SHOWNORMAL);
      UpdateWindow(hwnd);
      SetFocus(FFiles);
      FState.OpenFileList = [this] { SendMessageW(FFiles, CB_SHOWDROPDOWN, TRUE, 0); };
      FState.FileListOpen = [this] { return SendMessageW(FFiles, CB_GETDROPPEDSTATE, 0, 0) != 0; };
      FState.PreTranslate = [hwnd](MSG& AMsg) { return IsDialogMessageW(hwnd, &AMsg) != FALSE; };
      FState.ExtendProbe = [this](TWindowProbe& AProbe) {
        AProbe.FocusedControl = [this] { return FocusedControl(); };
        AProbe.TextAtEnd = [this] { return !FState.Destroyed && LastLineInView(); };
        AProbe.FirstVisibleLine = [this] {
          return FState.Destroyed ? -1 : static_cast<int>(SendMessageW(FLog, EM_GETFIRSTVISIBLELINE, 0, 0));
        };
        AProbe.TextMargins = [this] { return TextMargins(); };
        AProbe.Caret = [this] { return FState.Destroyed ? size_t(0) : CaretPosition(); };
        AProbe.SelectedFile = [this] { return FState.Destroyed ? std::string() : SelectedFile(); };
        AProbe.FolderButton = [this] { return FolderButtonFacts(); };
      };
      FState.FireReady();
      ModalLoop(FState, FState.PreTranslate);
    }
    if (FState.HookError) {
      std::exception_ptr error = FState.HookError;
      FState.HookError = nullptr;
      std::rethrow_exception(error);
    }
  }

  // TLogWindowView
  void SetFileNames(const std::vector<std::string>& ANames) override {
    SendMessageW(FFiles, CB_RESETCONTENT, 0, 0);
    for (const auto& name : ANames) {
      std::wstring wide = Widen(name);
      SendMessageW(FFiles, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
  }

  std::vector<std::string> FileNames() const override {
    std::vector<std::string> names;
    LRESULT count = SendMessageW(FFiles, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) names.push_back(Item(i));
    return names;
  }

  void SelectFile(size_t AIndex) override {
    SendMessageW(FFiles, CB_SETCURSEL, static_cast<WPARAM>(AIndex), 0);
  }

  std::string SelectedFile() const override {
    LRESULT index = SendMessageW(FFiles, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? std::string() : Item(index);
  }

  void SetText(const std::string& AText) override {
    FShownText = WithCrLf(Widen(AText));
    FGivenText = AText;
    SendMessageW(FLog, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(FLog, FShownText.c_str());
    SendMessageW(FLog, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FLog, nullptr, TRUE);
  }

  void AppendText(const std::string& AText) override {
    std::wstring added = WithCrLf(Widen(AText));
    FShownText += added;
    FGivenText += AText;
    // Only the new lines go to the control, not the whole text again.
    const LRESULT length = GetWindowTextLengthW(FLog);
    SendMessageW(FLog, WM_SETREDRAW, FALSE, 0);
    SendMessageW(FLog, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(FLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    SendMessageW(FLog, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FLog, nullptr, TRUE);
  }

  std::string Text() const override {
    std::wstring text = WindowText(FLog);
    // The control holds the text with CR LF line ends; give back what was set when unchanged.
    if (text == FShownText) return FGivenText;
    return Narrow(text.c_str(), static_cast<int>(text.size()));
  }

  // Positions are counted in characters (code points); the control counts UTF-16 units.
  size_t CaretPosition() const override {
    DWORD start = 0;
    SendMessageW(FLog, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    return UnitsToChars(FShownText, start);
  }

  void RestoreCaret(size_t APosition) override {
    auto units = static_cast<WPARAM>(CharsToUnits(FShownText, APosition));
    SendMessageW(FLog, EM_SETSEL, units, static_cast<LPARAM>(units));
    SendMessageW(FLog, EM_SCROLLCARET, 0, 0);
    SetFocus(FLog);
  }

  TReadingPlace ReadingPlace() const override {
    TReadingPlace place;
    DWORD start = 0;
    SendMessageW(FLog, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    // The control is read-only: it holds the text that was set, kept here too, so that a
    // large text is not copied out of it on every reload.
    const std::wstring& text = FShownText;
    place.Caret = UnitsToChars(text, start);
    place.CaretAtEnd = start >= text.size();
    place.TopLine = static_cast<size_t>(SendMessageW(FLog, EM_GETFIRSTVISIBLELINE, 0, 0));
    place.ViewAtEnd = LastLineInView();
    return place;
  }

  void RestoreReadingPlace(const TReadingPlace& APlace) override {
    SetFocus(FLog);
    const std::wstring& text = FShownText;
    auto units = static_cast<WPARAM>(APlace.CaretAtEnd ? text.size() : CharsToUnits(text, APlace.Caret));
    SendMessageW(FLog, EM_SETSEL, units, static_cast<LPARAM>(units));
    // The view goes to the end when it was there, else back to the line that was at its top.
    auto first = static_cast<LONG_PTR>(SendMessageW(FLog, EM_GETFIRSTVISIBLELINE, 0, 0));
    LONG_PTR lines = APlace.ViewAtEnd ? static_cast<LONG_PTR>(SendMessageW(FLog, EM_GETLINECOUNT, 0, 0))
                                      : static_cast<LONG_PTR>(APlace.TopLine) - first;
    SendMessageW(FLog, EM_LINESCROLL, 0, static_cast<LPARAM>(lines));
  }

  void ShowError(const std::string& AMessage) override {
    ++FInHandler;  // no timer events while the message is up
    MessageBoxW(FState.Destroyed ? nullptr : FState.Handle, Widen(AMessage).c_str(),
                Widen(FState.Caption).c_str(), MB_OK | MB_ICONERROR);
    --FInHandler;
  }

  void Close() override { FState.RequestClose(); }

 private:
  std::string Item(LRESULT AIndex) const {
    LRESULT len = SendMessageW(FFiles, CB_GETLBTEXTLEN, static_cast<WPARAM>(AIndex), 0);
    if (len == CB_ERR || len <= 0) return std::string();
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = SendMessageW(FFiles, CB_GETLBTEXT, static_cast<WPARAM>(AIndex), reinterpret_cast<LPARAM>(text.data()));
    if (got == CB_ERR) return std::string();
    return Narrow(text.c_str(), static_cast<int>(got));
  }

  std::string FocusedControl() const {
    if (FState.Destroyed) return std::string();
    HWND focus = GetFocus();
    if (!focus) return std::string();
    if (focus == FLog) return "text";
    if (focus == FOpenDir) return "folder";
    if (focus == FFiles || IsChild(FFiles, focus)) return "files";
    return std::string();
  }

  // Whether the last line of the text is in view (also when the whole text fits).
  bool LastLineInView() const {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(FLog, SB_VERT, &info)) return true;
    if (info.nPage == 0) {
      // without a page size: the first visible line and the number of lines that fit
      RECT area;
      SendMessageW(FLog, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
      LRESULT count = SendMessageW(FLog, EM_GETLINECOUNT, 0, 0);
      LRESULT first = SendMessageW(FLog, EM_GETFIRSTVISIBLELINE, 0, 0);
      int lineHeight = FScale(kFontHeight) + 3;
      return first + (area.bottom - area.top) / (lineHeight > 0 ? lineHeight : 1) >= count;
    }
    return info.nPos + static_cast<int>(info.nPage) > info.nMax;
  }

  std::vector<int> TextMargins() const {
    LRESULT sides = SendMessageW(FLog, EM_GETMARGINS, 0, 0);
    RECT area{}, client{};
    SendMessageW(FLog, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    GetClientRect(FLog, &client);
    return {LOWORD(sides), static_cast<int>(area.top - client.top), HIWORD(sides), static_cast<int>(client.bottom - area.bottom)};
  }

  // The text area: Tab, Shift+Tab, Enter and Esc belong to the window (moving the focus,
  // closing), not to the text, which cannot be edited anyway; tabbing into it keeps the caret
  // where it was instead of selecting everything.
  // The control's own procedure is kept in its user data.
  static LRESULT CALLBACK LogTextProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    auto own = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
    if (!own) return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    LRESULT result = CallWindowProcW(own, AWnd, AMsg, AWParam, ALParam);
    if (AMsg == WM_GETDLGCODE)
      result &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_HASSETSEL | DLGC_WANTMESSAGE);
    return result;
  }

  // A tooltip that the system shows over the control while the mouse rests on it.
  void AddTooltip(HWND AControl, const char* AText) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    if (!FTooltips)
      FTooltips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FState.Handle, nullptr,
                                  ThisModule(), nullptr);
    if (!FTooltips) return;
    SendMessageW(FTooltips, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    FTooltipText = Widen(AText);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = FState.Handle;
    tool.uId = reinterpret_cast<UINT_PTR>(AControl);
    tool.lpszText = FTooltipText.data();
    SendMessageW(FTooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }

  TWindowProbe::TButtonFacts FolderButtonFacts() const {
    TWindowProbe::TButtonFacts facts;
    if (FState.Destroyed) return facts;
    if (FTooltips) {
      wchar_t text[256] = {};
      TTTOOLINFOW tool{};
      tool.cbSize = sizeof(tool);
      tool.hwnd = FState.Handle;
      tool.uId = reinterpret_cast<UINT_PTR>(FOpenDir);
      tool.lpszText = text;
      SendMessageW(FTooltips, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
      facts.Tooltip = Narrow(text, static_cast<int>(wcslen(text)));
    }
    std::wstring name = WindowText(FOpenDir);
    facts.AccessibleName = Narrow(name.c_str(), static_cast<int>(name.size()));
    facts.PictureSize = FFolderSize;
    RECT list{};
    GetWindowRect(FFiles, &list);
    facts.ListHeight = list.bottom - list.top;
    return facts;
  }

  void CreateControls(HICON AFolder) {
    HWND hwnd = FState.Handle;
    HINSTANCE module = ThisModule();
    FFiles = CreateWindowExW(0, L"COMBOBOX", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT,
                             FScale(kListLeft), FScale(kListTop), FScale(kListWidth), FScale(kListDropHeight), hwnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdFiles)), module, nullptr);
    // The button's text is its accessible name; with a picture the picture is drawn instead.
    FOpenDir = CreateWindowExW(0, L"BUTTON", AFolder ? Widen(kOpenFolderHint).c_str() : L"...",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_FLAT | (AFolder ? BS_ICON : 0),
                               FScale(kListLeft + kListWidth), FScale(kButtonTop), FScale(kButtonWidth),
                               FScale(kButtonHeight), hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdOpenDir)),
                               module, nullptr);
    FLog = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                               ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL,
                           0, 0, 0, 0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdLog)), module, nullptr);
    if (!FFiles || !FOpenDir || !FLog) throw std::runtime_error(kMsgNoDisplay);
    for (HWND control : {FFiles, FOpenDir, FLog}) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    if (AFolder) {
      // The picture grows with the font, as the list beside it does: 16 pixels at 96 dots per
      // inch.
      FFolderSize = std::max(16, FScale(20));
      FFolderIcon = static_cast<HICON>(CopyImage(AFolder, IMAGE_ICON, FFolderSize, FFolderSize, 0));
      SendMessageW(FOpenDir, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(FFolderIcon ? FFolderIcon : AFolder));
      if (!FFolderIcon) FFolderSize = 16;
    }
    AddTooltip(FOpenDir, kOpenFolderHint);
    SendMessageW(FLog, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    // room between the text and the frame
    SendMessageW(FLog, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(FScale(kTextMargin), FScale(kTextMargin)));
    SetWindowLongPtrW(FLog, GWLP_USERDATA, GetWindowLongPtrW(FLog, GWLP_WNDPROC));
    SetWindowLongPtrW(FLog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TLogWindow::LogTextProc));
    RECT client;
    GetClientRect(hwnd, &client);
    Layout(client.right, client.bottom);
  }

  void Layout(int AWidth, int AHeight) {
    if (!FLog) return;
    int top = FScale(kStripHeight);
    MoveWindow(FLog, 0, top, AWidth, AHeight > top ? AHeight - top : 0, TRUE);
  }

  // Calls a handler; what it throws is shown to the user and the window stays.
  void Handle(void (TLogWindowEvents::*AHandler)(TLogWindowView&)) {
    ++FInHandler;
    try {
      (FEvents.*AHandler)(*this);
    } catch (const std::exception& e) {
      ShowError(e.what());
    } catch (...) {
      ShowError("Unknown error");
    }
    --FInHandler;
  }

  LRESULT Message(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    HWND hwnd = FState.Handle;
    switch (AMsg) {
      case WM_COMMAND: {
        int id = LOWORD(AWParam);
        int code = HIWORD(AWParam);
        // Esc, from whichever control has the focus, closes the window.
        if (id == IDCANCEL) {
          FState.RequestClose();
          return 0;
        }
        if (id == kIdFiles && code == CBN_SELCHANGE) Handle(&TLogWindowEvents::FilesChange);
        else if (id == kIdFiles && code == CBN_DROPDOWN) Handle(&TLogWindowEvents::FilesDropDown);
        else if (id == kIdOpenDir && code == BN_CLICKED) Handle(&TLogWindowEvents::OpenDirClick);
        return 0;
      }
      case WM_TIMER:
        if (AWParam == kCheckFileTimer) {
          // A tick that comes while a handler or its message box is busy is skipped.
          if (FInHandler == 0) Handle(&TLogWindowEvents::CheckFileTimer);
          return 0;
        }
        break;
      case WM_SIZE:
        Layout(LOWORD(ALParam), HIWORD(ALParam));
        return 0;
      case WM_CTLCOLORSTATIC:
        // The read-only text keeps the ordinary text background.
        if (reinterpret_cast<HWND>(ALParam) == FLog) {
          HDC dc = reinterpret_cast<HDC>(AWParam);
          SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
          SetBkColor(dc, GetSysColor(COLOR_WINDOW));
          return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
      case WM_DESTROY:
        KillTimer(hwnd, kCheckFileTimer);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, AMsg, AWParam, ALParam);
  }

  static LRESULT CALLBACK WndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    return ObjectWndProc<TLogWindow>(AWnd, AMsg, AWParam, ALParam);
  }
  template <typename T>
  friend LRESULT ObjectWndProc(HWND, UINT, WPARAM, LPARAM);

  TLogWindowEvents& FEvents;
  TWindowState FState;
  TScaler FScale;
  HFONT FFont = nullptr;
  HWND FFiles = nullptr;
  HWND FOpenDir = nullptr;
  HWND FTooltips = nullptr;
  std::wstring FTooltipText;
  HICON FFolderIcon = nullptr;  // the folder picture at the window's size, owned
  int FFolderSize = 0;
  HWND FLog = nullptr;
  int FInHandler = 0;
  std::wstring FShownText;
  std::string FGivenText;
};

// ---------------------------------------------------------------------------------------------
// Document window

// Balances OleInitialize on the calling thread when it succeeded.
class TOleScope {
 public:
  TOleScope() : FResult(OleInitialize(nullptr)) {}
  ~TOleScope() {
    if (SUCCEEDED(FResult)) OleUninitialize();
  }
  TOleScope(const TOleScope&) = delete;
  TOleScope& operator=(const TOleScope&) = delete;

 private:
  HRESULT FResult;
};

template <typename T>
void ReleaseOf(T*& APtr) {
  if (APtr) {
    APtr->Release();
    APtr = nullptr;
  }
}

// The system's HTML document object, which the browser control draws its pages with. Where it
// cannot be created the control would only ever show an empty page.
const CLSID kClsidHtmlDocument = {0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};

bool HtmlEngineAvailable() {
  IUnknown* document = nullptr;
  HRESULT hr = CoCreateInstance(kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&document));
  if (document) document->Release();
  return SUCCEEDED(hr) && document;
}

class TDocWindow;

// The container side of the browser control: client site, in-place site and frame, and the
// receiver of the browser's events.
class TBrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IDispatch {
 public:
  explicit TBrowserSite(TDocWindow* AOwner) : FOwner(AOwner) {}
  void Detach() { FOwner = nullptr; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID ARiid, void** AObject) override {
    if (!AObject) return E_POINTER;
    *AObject = nullptr;
    if (IsEqualIID(ARiid, IID_IUnknown) || IsEqualIID(ARiid, IID_IOleClientSite))
      *AObject = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(ARiid, IID_IOleWindow) || IsEqualIID(ARiid, IID_IOleInPlaceSite))
      *AObject = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(ARiid, IID_IOleInPlaceFrame) || IsEqualIID(ARiid, IID_IOleInPlaceUIWindow))
      *AObject = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(ARiid, IID_IDispatch) || IsEqualIID(ARiid, DIID_DWebBrowserEvents2))
      *AObject = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG refs = --FRefs;
    if (refs == 0) delete this;
    return refs;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** AMoniker) override {
    if (AMoniker) *AMoniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** AContainer) override {
    if (AContainer) *AContainer = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* AWindow) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** AFrame, IOleInPlaceUIWindow** ADoc, LPRECT APosRect,
                                LPRECT AClipRect, LPOLEINPLACEFRAMEINFO AFrameInfo) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow / IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the browser's events
  STDMETHODIMP GetTypeInfoCount(UINT* ACount) override {
    if (ACount) *ACount = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** AInfo) override {
    if (AInfo) *AInfo = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID ADispId, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  virtual ~TBrowserSite() = default;

  TDocWindow* FOwner;
  ULONG FRefs = 1;
};

class TDocWindow {
 public:
  TDocWindow(const std::string& AHtmlFilePath, const std::string& ACaption, DWORD AOwnerThread = GetCurrentThreadId()) {
    FState.OwnerThread = AOwnerThread;
    FState.Caption = ACaption;
    FState.Location = AHtmlFilePath;
    FPageUri = "file:///" + AHtmlFilePath;
  }
  ~TDocWindow() { ReleaseBrowser(); }

  void Run() {
    TOleScope ole;
    TWindowIcons icons;
    TWindowClass windowClass(kDocClass, &TDocWindow::WndProc, icons.Large.Get(), icons.Small.Get());
    TScaler scale;

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = 0;
    RECT rc = CentredWindowRect(scale(kDocClientWidth), scale(kDocClientHeight), style, exStyle);
    HWND hwnd = CreateWindowExW(exStyle, kDocClass, Widen(FState.Caption).c_str(), style, rc.left, rc.top,
                                rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, ThisModule(), this);
    if (!hwnd) throw std::runtime_error(kMsgNoDisplay);
    struct TDestroyOnExit {
      TDocWindow* Self;
      ~TDestroyOnExit() {
        if (!Self->FState.Destroyed) DestroyWindow(Self->FState.Handle);
      }
    } destroyOnExit{this};

    if (!CreateBrowser()) {
      DestroyWindow(hwnd);
      throw std::runtime_error(kMsgNoBrowser);
    }
    Navigate();

    FState.DisableOthers();
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    SetTimer(hwnd, kReadyTimer, kReadyTimeout, nullptr);
    FState.PreTranslate = [this](MSG& AMsg) { return TranslateForBrowser(AMsg); };
    FState.ExtendProbe = [this](TWindowProbe& AProbe) {
      AProbe.FocusedControl = [this] {
        HWND focus = GetFocus();
        return !FState.Destroyed && focus && IsChild(FState.Handle, focus) ? std::string("browser") : std::string();
      };
    };
    ModalLoop(FState, FState.PreTranslate);
    if (FState.HookError) {
      std::exception_ptr error = FState.HookError;
      FState.HookError = nullptr;
      std::rethrow_exception(error);
    }
  }

  HWND Handle() const { return FState.Handle; }

  void GetClientArea(RECT& ARect) const { GetClientRect(FState.Handle, &ARect); }

  // Before the browser follows a link: true when it is to stay where it is.
  bool RefuseNavigation(const std::string& AUri) {
    switch (LinkActionFor(AUri, FPageUri)) {
      case TLinkAction::Show:
        return false;
      case TLinkAction::External:
        if (!OpenedByStandIn(AUri))
          ShellExecuteW(FState.Handle, L"open", Widen(AUri).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return true;
      case TLinkAction::Refuse:
        break;
    }
    return true;
  }

  void DocumentComplete() {
    if (FState.Destroyed) return;
    KillTimer(FState.Handle, kReadyTimer);
    FState.FireReady();
  }

 private:
  bool CreateBrowser() {
    if (!HtmlEngineAvailable()) return false;
    FSite = new TBrowserSite(this);
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&FObject))) ||
        !FObject)
      return false;
    if (FAILED(FObject->SetClientSite(static_cast<IOleClientSite*>(FSite)))) return false;
    OleSetContainedObject(FObject, TRUE);
    RECT rc;
    GetClientArea(rc);
    if (FAILED(FObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(FSite), 0,
                               FState.Handle, &rc)))
      return false;
    FActivated = true;
    if (FAILED(FObject->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&FBrowser))) || !FBrowser)
      return false;
    FObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&FInPlace));
    FObject->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&FActive));
    Layout();

    IConnectionPointContainer* container = nullptr;
    if (SUCCEEDED(FBrowser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) &&
        container) {
      if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &FEvents)) && FEvents) {
        if (FAILED(FEvents->Advise(static_cast<IDispatch*>(FSite), &FCookie))) FCookie = 0;
      }
      container->Release();
    }
    return true;
  }

  void Navigate() { NavigateTo(FState.Location); }

 public:
  void NavigateTo(const std::string& AAddress) {
    if (!FBrowser) return;
    BSTR url = SysAllocString(Widen(AAddress).c_str());
    VARIANT empty;
    VariantInit(&empty);
    FBrowser->Navigate(url, &empty, &empty, &empty, &empty);
    SysFreeString(url);
  }

 private:
  void Layout() {
    if (!FInPlace) return;
    RECT rc;
    GetClientArea(rc);
    FInPlace->SetObjectRects(&rc, &rc);
  }

  // Esc closes the window; other keys go to the browser first, so that its own shortcuts and
  // focus moves work.
  bool TranslateForBrowser(MSG& AMsg) {
    if (AMsg.message == WM_KEYDOWN && AMsg.wParam == VK_ESCAPE && GetKeyState(VK_SHIFT) >= 0 &&
        GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
      FState.RequestClose();
      return true;
    }
    // Alt+Left and Backspace go back to the page shown before, as in a browser.
    const bool alt = GetKeyState(VK_MENU) < 0, shift = GetKeyState(VK_SHIFT) < 0, control = GetKeyState(VK_CONTROL) < 0;
    if (FBrowser && ((AMsg.message == WM_SYSKEYDOWN && AMsg.wParam == VK_LEFT && alt && !shift && !control) ||
                     (AMsg.message == WM_KEYDOWN && AMsg.wParam == VK_BACK && !alt && !shift && !control))) {
      FBrowser->GoBack();
      return true;
    }
    if (!FActive || AMsg.message < WM_KEYFIRST || AMsg.message > WM_KEYLAST) return false;
    return FActive->TranslateAccelerator(&AMsg) == S_OK;
  }

  // Takes the browser down while its parent window still exists.
  void ReleaseBrowser() {
    if (FEvents) {
      if (FCookie) FEvents->Unadvise(FCookie);
      FCookie = 0;
      ReleaseOf(FEvents);
    }
    if (FBrowser) FBrowser->Stop();
    ReleaseOf(FActive);
    if (FInPlace && FActivated) FInPlace->InPlaceDeactivate();
    ReleaseOf(FInPlace);
    ReleaseOf(FBrowser);
    if (FObject) {
      FObject->Close(OLECLOSE_NOSAVE);
      FObject->SetClientSite(nullptr);
      OleSetContainedObject(FObject, FALSE);
      ReleaseOf(FObject);
    }
    FActivated = false;
    if (FSite) {
      FSite->Detach();
      FSite->Release();
      FSite = nullptr;
    }
  }

  LRESULT Message(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    HWND hwnd = FState.Handle;
    switch (AMsg) {
      case WM_SIZE:
        Layout();
        return 0;
      case WM_TIMER:
        if (AWParam == kReadyTimer) {
          KillTimer(hwnd, kReadyTimer);
          FState.FireReady();
          return 0;
        }
        break;
      case WM_DESTROY:
        KillTimer(hwnd, kReadyTimer);
        ReleaseBrowser();
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, AMsg, AWParam, ALParam);
  }

  static LRESULT CALLBACK WndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    return ObjectWndProc<TDocWindow>(AWnd, AMsg, AWParam, ALParam);
  }
  template <typename T>
  friend LRESULT ObjectWndProc(HWND, UINT, WPARAM, LPARAM);

  TWindowState FState;
  TBrowserSite* FSite = nullptr;
  IOleObject* FObject = nullptr;
  IWebBrowser2* FBrowser = nullptr;
  IOleInPlaceObject* FInPlace = nullptr;
  IOleInPlaceActiveObject* FActive = nullptr;
  IConnectionPoint* FEvents = nullptr;
  DWORD FCookie = 0;
  bool FActivated = false;
  std::string FPageUri;  // the help page's own address, which its links are judged from
};

STDMETHODIMP TBrowserSite::GetWindow(HWND* AWindow) {
  if (!AWindow) return E_POINTER;
  *AWindow = FOwner ? FOwner->Handle() : nullptr;
  return FOwner ? S_OK : E_FAIL;
}

STDMETHODIMP TBrowserSite::GetWindowContext(IOleInPlaceFrame** AFrame, IOleInPlaceUIWindow** ADoc, LPRECT APosRect,
                                            LPRECT AClipRect, LPOLEINPLACEFRAMEINFO AFrameInfo) {
  if (!AFrame || !ADoc || !APosRect || !AClipRect || !AFrameInfo) return E_POINTER;
  *ADoc = nullptr;
  if (!FOwner) {
    *AFrame = nullptr;
    return E_FAIL;
  }
  *AFrame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  FOwner->GetClientArea(*APosRect);
  *AClipRect = *APosRect;
  AFrameInfo->fMDIApp = FALSE;
  AFrameInfo->hwndFrame = FOwner->Handle();
  AFrameInfo->haccel = nullptr;
  AFrameInfo->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP TBrowserSite::Invoke(DISPID ADispId, REFIID, LCID, WORD, DISPPARAMS* AParams, VARIANT*, EXCEPINFO*, UINT*) {
  if (ADispId == DISPID_DOCUMENTCOMPLETE && FOwner) FOwner->DocumentComplete();
  // The arguments come last first: BeforeNavigate2 (browser, address, flags, frame, posted
  // data, headers, cancel); NewWindow3 (browser, cancel, flags, from, address).
  auto text = [](const VARIANT& AArg) {
    const VARIANT* v = (AArg.vt & VT_BYREF) ? AArg.pvarVal : &AArg;
    return v && v->vt == VT_BSTR && v->bstrVal ? Narrow(v->bstrVal, static_cast<int>(SysStringLen(v->bstrVal))) : std::string();
  };
  if (ADispId == DISPID_BEFORENAVIGATE2 && FOwner && AParams && AParams->cArgs == 7 &&
      AParams->rgvarg[0].vt == (VT_BYREF | VT_BOOL)) {
    if (FOwner->RefuseNavigation(text(AParams->rgvarg[5]))) *AParams->rgvarg[0].pboolVal = VARIANT_TRUE;
  } else if (ADispId == DISPID_NEWWINDOW3 && FOwner && AParams && AParams->cArgs == 5 &&
             AParams->rgvarg[3].vt == (VT_BYREF | VT_BOOL)) {
    // no window of its own: a link of the help is shown in this one
    std::string address = text(AParams->rgvarg[0]);
    *AParams->rgvarg[3].pboolVal = VARIANT_TRUE;
    if (!FOwner->RefuseNavigation(address)) FOwner->NavigateTo(address);
  }
  return S_OK;
}

}  // namespace

void RunLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents) {
  TLogWindow window(ACaption, AEvents);
  window.Run();
}

void OpenFolderInShell(const std::string& AFolder) {
  // The parent is the window the user clicked in, the active window of this thread.
  ShellExecuteW(GetActiveWindow(), L"explore", Widen(AFolder).c_str(), L"", L"", SW_SHOWNORMAL);
}

namespace {

// Whether the calling thread can hold the browser control: it must be, or become, a
// single-threaded apartment. A thread that has joined the multithreaded one cannot.
bool ThreadTakesTheBrowser() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (hr == RPC_E_CHANGED_MODE) return false;
  if (SUCCEEDED(hr)) CoUninitialize();
  return true;
}

}  // namespace

void RunDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption) {
  if (ThreadTakesTheBrowser()) {
    TDocWindow window(AHtmlFilePath, ACaption);
    window.Run();
    return;
  }
  // The window gets a thread of its own in a single-threaded apartment. The caller's windows
  // are disabled from there as for any modal window, and the caller keeps handling its
  // messages meanwhile, so that they stay answerable, until the window is gone.
  const DWORD caller = GetCurrentThreadId();
  win::THandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!finished.Valid()) throw std::runtime_error(kMsgNoBrowser);
  HANDLE done = finished.Get();
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      TDocWindow window(AHtmlFilePath, ACaption, caller);
      window.Run();
    } catch (...) {
      error = std::current_exception();
    }
    SetEvent(done);
  });
  while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  worker.join();
  if (error) std::rethrow_exception(error);
}

void SetWindowReadyHook(std::function<void(const TWindowProbe&)> AHook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  gReadyHook = std::move(AHook);
}

bool JoinMultithreadedApartment() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
void LeaveApartment() { CoUninitialize(); }

}  // namespace qd::platform::window
