// The driver's two modal windows: the log viewer and the document (help) viewer. Each runs on
// the calling thread and returns when the window has been closed. Texts and paths are UTF-8.
// Failures throw std::runtime_error with a message for the user.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qd::platform::window {

// Message of the failure when no window can be shown at all (no graphical display).
extern const char kMsgNoDisplay[];

// What the log window offers to its handlers; only valid during a handler call.
class TLogWindowView {
 public:
  // Replaces the names of the file list, which keeps them sorted by itself; afterwards no
  // name is selected.
  virtual void SetFileNames(const std::vector<std::string>& ANames) = 0;
  // The names in the list's own (sorted) order.
  virtual std::vector<std::string> FileNames() const = 0;
  // Selects the name at that index of the list's order; does not raise FilesChange.
  virtual void SelectFile(size_t AIndex) = 0;
  // The selected name; empty when none is selected.
  virtual std::string SelectedFile() const = 0;
  // Replaces the whole text of the read-only text area, redrawn once; the caret goes to the
  // start and the view to the top (a caller that keeps the reader's place restores it after).
  virtual void SetText(const std::string& AText) = 0;
  // Adds the text at the end of the text area; a caller that keeps the reader's place restores
  // it after (RestoreReadingPlace).
  virtual void AppendText(const std::string& AText) = 0;
  virtual std::string Text() const = 0;
  // Caret position, in characters from the start of the text.
  virtual size_t CaretPosition() const = 0;
  // Puts the caret back at a position, scrolls it into view and gives the text area the
  // input focus.
  virtual void RestoreCaret(size_t APosition) = 0;
  // Where the reader is in the text, to be kept over a reload of it.
  struct TReadingPlace {
    size_t Caret = 0;      // in characters from the start
    bool CaretAtEnd = false;
    size_t TopLine = 0;    // first line in view, from 0
    bool ViewAtEnd = false;  // the last line is in view
  };
  virtual TReadingPlace ReadingPlace() const = 0;
  // After the text has been replaced: the caret back at its position (at the new end when it
  // was at the end), the view at the end when it was at the end, else the same first line in
  // view; the text area gets the input focus.
  virtual void RestoreReadingPlace(const TReadingPlace& APlace) = 0;
  // Reports an error to the user in the toolkit's standard message box; the window stays.
  virtual void ShowError(const std::string& AMessage) = 0;
  // Closes the window; the modal run returns after the current handler.
  virtual void Close() = 0;

 protected:
  ~TLogWindowView() = default;
};

// The log window's handlers, called on the window's thread.
class TLogWindowEvents {
 public:
  virtual void FormCreate(TLogWindowView& AView) = 0;
  virtual void FilesChange(TLogWindowView& AView) = 0;    // the user picked a name
  virtual void FilesDropDown(TLogWindowView& AView) = 0;  // just before the list opens
  virtual void OpenDirClick(TLogWindowView& AView) = 0;   // the folder button
  virtual void CheckFileTimer(TLogWindowView& AView) = 0; // once a second while open

 protected:
  ~TLogWindowEvents() = default;
};

// Shows the log window modally: a file list (selection only) with a folder button beside it
// in a tool bar at the top, the read-only text with both scroll bars below, client area
// 633 x 293 at 120 dots per inch, centred on the screen, no owner. FormCreate runs before it
// is first shown; the timer ticks every 1000 ms.
void RunLogWindow(const std::string& ACaption, TLogWindowEvents& AEvents);

// Opens the folder in the desktop's file explorer.
void OpenFolderInShell(const std::string& AFolder);

// Shows a local HTML file in a resizable modal window holding an embedded web browser that
// fills it: client area 633 x 425 at 120 dots per inch, centred on the screen, no owner.
void RunDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption);

// For tests and diagnosis: joins the calling thread to the multithreaded COM apartment, as
// the threads of some hosts are (true when it did), and leaves it again. Nothing happens where
// the system has no such apartments.
bool JoinMultithreadedApartment();
void LeaveApartment();

// What a ready window tells the hook below. A function that is empty is not available for
// that window or on that system. All of them are called on the window's thread, from the hook.
struct TWindowProbe {
  std::string Caption;   // the window's caption
  std::string Location;  // document window: the file the browser was sent to; else empty
  std::function<void()> Close;
  // Log window, where the system lets them be given: opens the list of files as a click on
  // it does, and tells whether the list is open.
  std::function<void()> OpenFileList;
  std::function<bool()> FileListOpen;

  // Both windows. Runs the window's events (its timer too) until the condition holds, the
  // window is gone or the time is up; tells whether the condition held.
  std::function<bool(int AMilliseconds, const std::function<bool()>& ACondition)> WaitFor;
  // Whether the window still exists.
  std::function<bool()> Alive;
  // A key pressed and released as the user does, sent to the window that has the keyboard:
  // an open message box of the window, else the window itself. Names: "Tab", "Return",
  // "Escape", "space", "End", "Home", "Down", "BackSpace", "Left", with "shift+", "ctrl+" and
  // "alt+" in front as needed.
  std::function<void(const std::string& AKey)> PressKey;
  // The control that has the input focus: "files", "folder", "text" (log window), "browser"
  // (document window), or empty.
  std::function<std::string()> FocusedControl;
  // Captions of the window's message boxes that are open now.
  std::function<std::vector<std::string>()> MessageBoxes;

  // Log window: whether the text area shows the end of its text, the number of its first line
  // in view (from 0), the caret's position (in characters from the start) and the name of the
  // selected file.
  std::function<bool()> TextAtEnd;
  std::function<int()> FirstVisibleLine;
  std::function<size_t()> Caret;
  std::function<std::string()> SelectedFile;
  // Log window: what the folder button tells: its tooltip, its accessible name, and the size
  // of its picture and the height of the file list, in pixels.
  struct TButtonFacts {
    std::string Tooltip, AccessibleName;
    int PictureSize = 0, ListHeight = 0;
  };
  std::function<TButtonFacts()> FolderButton;
  // The text area's margins inside its frame, in pixels: left, top, right, bottom.
  std::function<std::vector<int>()> TextMargins;

  // Document window: runs a script in the page and gives its result as text (an error
  // starts with "error: "); sets the size of the client area, in pixels, and tells whether
  // the browser has taken that size; writes what the browser shows, the whole page, into a
  // PNG file and tells whether it did.
  std::function<std::string(const std::string& AScript)> RunScript;
  std::function<bool(int AWidth, int AHeight)> ResizeClient;
  std::function<bool(const std::string& APngPath)> Snapshot;
};

// Text of the folder button's tooltip, which is also its accessible name.
extern const char kOpenFolderHint[];

// What the document window does with a link the user follows.
enum class TLinkAction {
  Show,      // a place in the page, or a file of the help's own folder: shown in the window
  External,  // http, https, mailto: handed to the system's default program, the page stays
  Refuse     // anything else (a file elsewhere, another scheme): nothing happens
};
// The action for the link's address, seen from the page's own address (file: URIs).
TLinkAction LinkActionFor(const std::string& ALinkUri, const std::string& APageUri);

// For tests: receives the addresses that the document window would hand to the system's default
// program, instead of that program; an empty function gives the system back.
void SetExternalLinkOpener(std::function<void(const std::string& AUri)> AOpener);

// For tests and diagnosis: called on the window's thread when a window is ready, the log
// window once it is shown, the document window once its browser has finished the page (or
// at the latest five seconds after it was shown). An empty function removes the hook.
void SetWindowReadyHook(std::function<void(const TWindowProbe&)> AHook);

}  // namespace qd::platform::window
