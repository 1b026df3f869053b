// One running Pelluxw.exe driven from outside as a person would, for the random-use test and the
// soak. Keys go through the system's input queue, which this thread shares with the editor's
// (AttachThreadInput): after each action a marker key is sent, and the action is over when the
// editor has taken it, so every wait is on the editor's own state, each with a deadline.
#ifndef PELLUX_E2E_EDITOR_SESSION_H
#define PELLUX_E2E_EDITOR_SESSION_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Held while a key is pressed.
constexpr unsigned kNoModifier = 0, kCtrl = 1, kShift = 2, kAlt = 4;

struct Selection {
    LONG from = 0;
    LONG to = 0;
    bool operator==(const Selection& other) const { return from == other.from && to == other.to; }
};

// What a person sees of the editor's process at one moment.
struct Figures {
    SIZE_T workingSet = 0;
    SIZE_T peakWorkingSet = 0;
    SIZE_T pagefile = 0;
    int topWindows = 0;        // top-level windows of the process, visible or not
    int visibleWindows = 0;
    int childWindows = 0;
    int handles = -1;          // from the system's handle list; -1 when it cannot be read
    int keyHandles = -1;       // of those, registry keys
    DWORD handleCount = 0;     // GetProcessHandleCount: a stub that answers 0 under Wine 8
    DWORD guiObjects = 0;      // GetGuiResources: the same
    DWORD userObjects = 0;
    int fds = -1;              // open file descriptors of its Wine process; -1 when unknown
};

class EditorSession {
public:
    EditorSession() = default;
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;
    ~EditorSession();

    // Takes the editor whose main window this is; false with the reason in why.
    bool attach(HWND mainWindow, std::string& why);

    // Input, as keys at the keyboard; nothing waits here.
    void press(WORD key, unsigned modifiers = kNoModifier);
    void type(const std::string& text);
    void postToMain(UINT message, WPARAM wParam, LPARAM lParam);
    void postTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void resizeMain(int width, int height);

    // Makes this thread's reading of the editor's input true; once, with the editor idle, before
    // the first settle.
    bool calibrate(DWORD timeout, std::string& why);
    // Makes the editor's active window the foreground window, so that keys reach it.
    bool bringToFront(DWORD timeout, std::string& why);
    // Waits until the editor has taken every key and message sent so far, and answers.
    bool settle(DWORD timeout, std::string& why);

    bool alive() const;
    DWORD exitCode() const;
    DWORD pid() const { return pid_; }
    HWND main() const { return main_; }
    HWND active() const;
    HWND focus() const;
    HWND editor() const;
    bool inMenu() const;

    // The editor's state, read through its own messages (each with the deadline given to settle).
    bool text(std::string& out);
    bool selection(Selection& out);
    bool length(LONG& out);  // in the control's own units: a line break counts one
    std::string status();
    static std::string windowText(HWND window);
    static std::string className(HWND window);
    std::vector<HWND> visibleWindows() const;

    // unixPid: the Wine process's Linux process id, for its file descriptors (0: unknown).
    Figures figures(DWORD unixPid) const;

private:
    struct Windows {
        HWND foreground = nullptr;
        HWND active = nullptr;
        HWND focus = nullptr;
        std::vector<HWND> shown;
        bool operator==(const Windows& other) const {
            return foreground == other.foreground && active == other.active && focus == other.focus &&
                   shown == other.shown;
        }
    };
    Windows windowsNow() const;
    bool markerTaken(DWORD start, DWORD timeout, std::string& why);
    bool send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    HWND main_ = nullptr;
    DWORD pid_ = 0;
    DWORD thread_ = 0;
    HANDLE process_ = nullptr;
    void* remote_ = nullptr;  // a page in the editor's process for the messages that take pointers
    bool attached_ = false;
    DWORD answerTimeout_ = 10000;
};

// splitmix64: the same numbers from the same start on every machine.
class Random {
public:
    explicit Random(uint64_t start) : state_(start) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool percent(int p) { return below(100) < p; }

private:
    uint64_t state_;
};

// Lines of 10 to 49 commands until the text has at least the bytes asked for.
std::string programText(Random& random, size_t bytes, const char* lineEnd);
bool writeFile(const std::string& path, const std::string& content);

// Text as a file holds it after the editor read it: every CR LF, lone CR and lone LF a CR LF.
std::string withWindowsLineEnds(const std::string& text);
bool readFile(const std::string& path, std::string& out);
// What GetFileTitleA gives for the path: its name.
std::string fileTitle(const std::string& path);

#endif
