// pxsoak: one running Pelluxw.exe through many cycles of Open (the real dialog, programs of
// 50-250 KB), an edit, New answered Yes at the save question (which saves) and New again. Each
// cycle is checked: the text opened, the edit, the file saved, the empty text after New, the
// status bar and the windows. Every 100 cycles it prints the process's memory, its windows, its
// handles and the open file descriptors of its Wine process, and the failures so far.
//
//   pxsoak FOLDER CYCLES [UNIX_PID] [DEADLINE_SECONDS]
//
// FOLDER (a Windows path) gets the programs. UNIX_PID: the editor's Linux process id, for its
// file descriptors. Exit 0 when every cycle held.
#include "editor_session.h"
#include "window_search.h"

#include "resources/version.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 10;
constexpr int kSmallestKb = 50;
constexpr int kLargestKb = 250;
constexpr int kReportEvery = 100;
constexpr int kRecoveryTries = 6;
constexpr DWORD kFrontTimeout = 5000;
constexpr DWORD kStartTimeout = 30000;
constexpr double kMb = 1024.0 * 1024.0;

class Soak {
public:
    Soak(EditorSession& editor, DWORD deadline) : editor_(editor), deadline_(deadline) {}

    bool cycle(const std::string& path, int number);
    bool recover();
    const std::string& failure() const { return failure_; }

private:
    bool fail(const std::string& why) {
        failure_ = why;
        return false;
    }
    bool act(const char* what);
    bool inFront(const char* title);
    bool textIs(const std::string& wanted, const char* what);
    bool statusIs(const std::string& wanted);
    bool fileIs(const std::string& path, const std::string& wanted);

    EditorSession& editor_;
    DWORD deadline_;
    std::string failure_;
};

// Waits for the editor to take what was sent, and for nothing but its windows to be up.
bool Soak::act(const char* what) {
    std::string why;
    if (!editor_.settle(deadline_, why)) return fail(std::string(what) + ": " + why);
    return true;
}

// The window in front is the editor's main window (title nullptr) or the one named, and the
// editor shows no other.
bool Soak::inFront(const char* title) {
    HWND active = editor_.active();
    std::string shown = EditorSession::windowText(active);
    if (title ? shown != title : active != editor_.main())
        return fail(std::string("expected ") + (title ? title : "the main window") + " in front, found \"" + shown + "\"");
    size_t wanted = title ? 2 : 1;
    std::vector<HWND> windows = editor_.visibleWindows();
    if (windows.size() != wanted) {
        std::string list;
        for (HWND window : windows) list += " \"" + EditorSession::windowText(window) + "\"";
        return fail("stray window: the editor shows" + list);
    }
    std::string why;
    return editor_.bringToFront(kFrontTimeout, why) || fail(why);
}

bool Soak::textIs(const std::string& wanted, const char* what) {
    std::string text;
    if (!editor_.text(text)) return fail("cannot read the editor's text");
    if (text != wanted)
        return fail(std::string(what) + ": the text has " + std::to_string(text.size()) + " bytes, not the " +
                    std::to_string(wanted.size()) + " wanted");
    return true;
}

bool Soak::statusIs(const std::string& wanted) {
    std::string status = editor_.status();
    return status == wanted || fail("the status bar says \"" + status + "\", not \"" + wanted + "\"");
}

bool Soak::fileIs(const std::string& path, const std::string& wanted) {
    std::string content;
    if (!readFile(path, content)) return fail("cannot read " + path);
    return content == wanted || fail("the saved " + path + " is not the text shown");
}

bool Soak::cycle(const std::string& path, int number) {
    std::string file;
    if (!readFile(path, file)) return fail("cannot read " + path);
    std::string opened = withWindowsLineEnds(file);
    std::string edited = "# cycle " + std::to_string(number) + "\r\n" + opened;

    editor_.press('O', kCtrl);
    if (!act("Ctrl+O") || !inFront("Open")) return false;
    editor_.press(VK_HOME);
    editor_.press(VK_END, kShift);
    editor_.type(path);
    editor_.press(VK_RETURN);
    if (!act("Open") || !inFront(nullptr) || !textIs(opened, "Open") || !statusIs(fileTitle(path))) return false;

    editor_.press(VK_HOME, kCtrl);
    editor_.type("# cycle " + std::to_string(number) + "\n");
    if (!act("the edit") || !inFront(nullptr) || !textIs(edited, "the edit")) return false;

    editor_.press('N', kCtrl);
    if (!act("Ctrl+N") || !inFront("Warning")) return false;
    editor_.press('Y');
    if (!act("Yes") || !inFront(nullptr) || !textIs(edited, "the save") || !fileIs(path, edited) ||
        !statusIs(fileTitle(path)))
        return false;

    editor_.press('N', kCtrl);
    return act("New") && inFront(nullptr) && textIs("", "New") && statusIs("Untitled.b");
}

// Back to an empty, untitled text after a failed cycle: Escape out of any box or dialog, then
// New, discarding.
bool Soak::recover() {
    std::string why;
    for (int i = 0; i < kRecoveryTries; ++i) {
        if (!editor_.alive()) return false;
        editor_.bringToFront(kFrontTimeout, why);
        HWND active = editor_.active();
        if (active != editor_.main()) {
            editor_.press(EditorSession::windowText(active) == "Warning" ? 'N' : VK_ESCAPE);
        } else {
            std::string text;
            if (editor_.text(text) && text.empty() && editor_.status() == "Untitled.b") return true;
            editor_.press('N', kCtrl);
        }
        if (!editor_.settle(deadline_, why)) return false;
    }
    return false;
}

// Prints the figures; keys: the registry keys the editor held at the last report, made this one's.
void printFigures(const EditorSession& editor, DWORD unixPid, int cycle, double secondsPerCycle, int failures,
                  int& keys, int opens) {
    Figures figures = editor.figures(unixPid);
    std::printf("cycle %d:", cycle);
    if (cycle > 0) std::printf(" %.2f s a cycle;", secondsPerCycle);
    std::printf(" memory %.1f MB resident (peak %.1f), %.1f MB private;", figures.workingSet / kMb,
                figures.peakWorkingSet / kMb, figures.pagefile / kMb);
    std::printf(" windows %d (%d visible, %d child windows);", figures.topWindows, figures.visibleWindows,
                figures.childWindows);
    if (figures.fds >= 0) std::printf(" file descriptors %d;", figures.fds);
    else std::printf(" file descriptors not known;");
    if (figures.handles >= 0) {
        std::printf(" handles %d, of them registry keys %d", figures.handles, figures.keyHandles);
        if (cycle > 0 && keys >= 0)
            std::printf(" (%+d over the last %d Opens: Wine's file dialog leaves its LastVisitedMRU key open)",
                        figures.keyHandles - keys, opens);
        std::printf(";");
        keys = figures.keyHandles;
    }
    // Wine 8 has stubs for these that answer 0: a 0 is no figure.
    if (figures.handleCount == 0) std::printf(" GetProcessHandleCount not available;");
    else std::printf(" GetProcessHandleCount %lu;", static_cast<unsigned long>(figures.handleCount));
    if (figures.guiObjects == 0 && figures.userObjects == 0) std::printf(" GetGuiResources not available;");
    else
        std::printf(" GDI objects %lu, USER objects %lu;", static_cast<unsigned long>(figures.guiObjects),
                    static_cast<unsigned long>(figures.userObjects));
    std::printf(" failures %d\n", failures);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pxsoak FOLDER CYCLES [UNIX_PID] [DEADLINE_SECONDS]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string folder = argv[1];
    int cycles = std::atoi(argv[2]);
    DWORD unixPid = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 0;
    DWORD deadline = (argc > 4 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)) : 10) * 1000;

    std::vector<std::string> paths;
    for (int i = 0; i < kFiles; ++i) {
        int kb = kSmallestKb + (kLargestKb - kSmallestKb) * i / (kFiles - 1);
        paths.push_back(folder + "\\soak" + std::to_string(i) + ".b");
        Random random(static_cast<uint64_t>(i));
        if (!writeFile(paths.back(), programText(random, static_cast<size_t>(kb) * 1024, "\r\n"))) {
            std::printf("FAIL: cannot write %s\n", paths.back().c_str());
            return 1;
        }
    }
    HWND main = waitFor(PELLUX_CAPTION, kStartTimeout);
    EditorSession editor;
    std::string why;
    if (!main || !editor.attach(main, why) || !editor.bringToFront(kFrontTimeout, why) ||
        !editor.calibrate(deadline, why) || !editor.settle(deadline, why)) {
        std::printf("FAIL: %s\n", main ? why.c_str() : "no editor window");
        return 1;
    }
    Soak soak(editor, deadline);
    int failures = 0, opens = 0, keys = -1;
    printFigures(editor, unixPid, 0, 0, 0, keys, 0);
    DWORD began = GetTickCount();
    for (int number = 1; number <= cycles; ++number) {
        ++opens;
        if (!soak.cycle(paths[static_cast<size_t>(number % kFiles)], number)) {
            ++failures;
            std::printf("cycle %d failed: %s\n", number, soak.failure().c_str());
            if (!editor.alive()) {
                std::printf("the editor ended with exit code 0x%08lX\n", static_cast<unsigned long>(editor.exitCode()));
                return 1;
            }
            if (!soak.recover()) {
                std::printf("the editor could not be brought back to an empty text\n");
                return 1;
            }
        }
        if (number % kReportEvery == 0 || number == cycles) {
            printFigures(editor, unixPid, number, (GetTickCount() - began) / 1000.0 / number, failures, keys, opens);
            opens = 0;
        }
    }
    std::printf("soak: %d cycles in %lu s, %d failed\n", cycles, (GetTickCount() - began) / 1000,
                failures);
    return failures == 0 ? 0 : 1;
}
