// pxrandom: a busy user at a running Pelluxw.exe. From a start number it draws random keys, menu
// commands (posted as the menu posts them, or walked with the keyboard) and window commands, and
// answers the editor's boxes and dialogs at random: never F5, F8, the About box's Homepage, nor
// another program's window. After every action it checks that the editor still runs and answers,
// that no stray window is open, that the caret stays in the text, and what the action must have
// left: the text and selection of a command that edits nothing, the file of every save, the
// text of every Open, the save question before work goes, the clipboard of a Copy or Cut of
// nothing. Every action is logged with its number; the same start number replays the same run.
//
//   pxrandom --folder FOLDER --start NUMBER [--seconds 60] [--actions N] [--deadline 10]
//            [--big-kb 90] [--menu EXE]
//
// FOLDER (a Windows path) gets the run's files, among them a program of --big-kb KB. The run
// stops after --seconds or --actions actions; each action must be over within --deadline
// seconds. EXE: the editor's program file, whose menu the keyboard walks (without it every menu
// command is posted). Exit 0 when every check held.
#include "editor_session.h"
#include "window_search.h"

#include "resources/resource.h"
#include "resources/version.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kFrontTimeout = 5000;
constexpr DWORD kStartTimeout = 30000;
constexpr UINT kBoxTextId = 0xFFFF;        // the message text of a message box
constexpr int kFileNameBoxId = 0x47c;      // the file dialogs' name box (cmb13)
constexpr size_t kBigKb = 90;              // Wine's control takes seconds over longer texts
constexpr DWORD kTooBigBytes = 9u << 20;   // past the editor's limit: refused at once

enum class Place { Main, Minimized, Results, Question, OpenDialog, SaveDialog, FileBox, Colour, About, Other };

const char* placeName(Place place) {
    switch (place) {
    case Place::Main: return "main";
    case Place::Minimized: return "minimized";
    case Place::Results: return "Results";
    case Place::Question: return "save question";
    case Place::OpenDialog: return "Open dialog";
    case Place::SaveDialog: return "Save As dialog";
    case Place::FileBox: return "file dialog's box";
    case Place::Colour: return "Color dialog";
    case Place::About: return "About box";
    case Place::Other: return "another window";
    }
    return "?";
}

bool isMessageBox(HWND window) { return GetDlgItem(window, kBoxTextId) != nullptr; }
bool isFileDialog(HWND window) { return window && GetDlgItem(window, kFileNameBoxId) != nullptr; }

std::string topTitle(HWND window) {
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    return title;
}

Place placeOf(const EditorSession& editor, HWND window) {
    if (!window) return Place::Other;
    if (window == editor.main()) return IsIconic(window) ? Place::Minimized : Place::Main;
    std::string title = topTitle(window);
    if (isMessageBox(window)) {
        if (title == "Results") return Place::Results;
        if (title == "Warning") return Place::Question;
        if (isFileDialog(GetWindow(window, GW_OWNER))) return Place::FileBox;
        return Place::Other;
    }
    if (title == "About Pellux IDE") return Place::About;
    if (isFileDialog(window)) return title == "Save As" ? Place::SaveDialog : Place::OpenDialog;
    if (title == "Color") return Place::Colour;
    return Place::Other;
}

// What a command does, as far as the checks are concerned.
enum class Act { Edit, Copy, Cut, New, Open, Save, Check, Close, About, Colour, Minimize, Maximize, Restore, Resize };

struct Key {
    const char* name;
    WORD key;
    unsigned modifiers;
    int weight;
    Act act;
};

// Everything a person types at the editor but F5, F8 and the keys that open the menu (a menu
// walked at random could reach Run File); the Alt+X of Act::Close only while work is unsaved.
const Key kKeys[] = {
    {"Return", VK_RETURN, 0, 40, Act::Edit},
    {"Tab", VK_TAB, 0, 10, Act::Edit},
    {"BackSpace", VK_BACK, 0, 45, Act::Edit},
    {"Delete", VK_DELETE, 0, 35, Act::Edit},
    {"ctrl+BackSpace", VK_BACK, kCtrl, 8, Act::Edit},
    {"ctrl+Delete", VK_DELETE, kCtrl, 8, Act::Edit},
    {"Insert", VK_INSERT, 0, 3, Act::Edit},
    {"ctrl+z", 'Z', kCtrl, 30, Act::Edit},
    {"ctrl+y", 'Y', kCtrl, 20, Act::Edit},
    {"ctrl+a", 'A', kCtrl, 25, Act::Edit},
    {"ctrl+x", 'X', kCtrl, 18, Act::Cut},
    {"shift+Delete", VK_DELETE, kShift, 4, Act::Edit},  // Wine's control deletes, copying nothing
    {"ctrl+c", 'C', kCtrl, 22, Act::Copy},
    {"ctrl+Insert", VK_INSERT, kCtrl, 4, Act::Edit},  // Wine's control: no copy
    {"ctrl+v", 'V', kCtrl, 30, Act::Edit},
    {"shift+Insert", VK_INSERT, kShift, 4, Act::Edit},
    {"F6", VK_F6, 0, 22, Act::Check},
    {"ctrl+n", 'N', kCtrl, 18, Act::New},
    {"ctrl+o", 'O', kCtrl, 22, Act::Open},
    {"ctrl+s", 'S', kCtrl, 22, Act::Save},
    {"alt+x", 'X', kAlt, 6, Act::Close},
};

struct NavigationKey {
    const char* name;
    WORD key;
};
const NavigationKey kNavigation[] = {{"Left", VK_LEFT}, {"Right", VK_RIGHT}, {"Up", VK_UP},   {"Down", VK_DOWN},
                                     {"Home", VK_HOME}, {"End", VK_END},     {"Prior", VK_PRIOR}, {"Next", VK_NEXT}};
constexpr int kNavigationWeight = 230;
constexpr int kCharacterWeight = 260;
constexpr int kMenuWeight = 90;
constexpr int kWindowWeight = 30;
constexpr LONG kLongText = 256 * 1024;  // characters; see the window actions
// The commands' characters most, then others the syntax check finds.
const char kCharacters[] = "++++----<<>>[[]]..,,##%@&*$  x1a";

struct MenuCommand {
    const char* name;
    WPARAM id;
    Act act;
};
// Every menu item but Run File, Create New Window and the About box's Homepage.
const MenuCommand kMenu[] = {
    {"New", IDM_NEW, Act::New},           {"Open", IDM_OPEN, Act::Open},
    {"Save", IDM_SAVE, Act::Save},        {"Exit", IDM_EXIT, Act::Close},
    {"Undo", IDM_UNDO, Act::Edit},        {"Redo", IDM_REDO, Act::Edit},
    {"Cut", IDM_CUT, Act::Cut},           {"Copy", IDM_COPY, Act::Copy},
    {"Paste", IDM_PASTE, Act::Edit},      {"Delete", IDM_DELETE, Act::Edit},
    {"Select All", IDM_SELECTALL, Act::Edit}, {"Forecolor", IDM_FORECOLOR, Act::Colour},
    {"Background Color", IDM_BACKCOLOR, Act::Colour}, {"Check Syntax", IDM_CHECKSYNTAX, Act::Check},
    {"Minimize Window", IDM_MINIMIZE, Act::Minimize}, {"Maximize Window", IDM_MAXIMIZE, Act::Maximize},
    {"About", IDM_ABOUT, Act::About},
};

bool findItem(HMENU menu, UINT id, std::vector<WORD>& keys) {
    int count = GetMenuItemCount(menu);
    int ordinal = 0;
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) return false;
        if (info.fType & MFT_SEPARATOR) continue;
        if (info.hSubMenu) {
            std::vector<WORD> inner;
            if (findItem(info.hSubMenu, id, inner)) {
                for (int k = 0; k < ordinal; ++k) keys.push_back(VK_DOWN);
                keys.push_back(VK_RIGHT);
                keys.insert(keys.end(), inner.begin(), inner.end());
                return true;
            }
        } else if (info.wID == id) {
            for (int k = 0; k < ordinal; ++k) keys.push_back(VK_DOWN);
            return true;
        }
        ++ordinal;
    }
    return false;
}

// The keys that walk the menu bar to an item: F10, Right to its pop-up, Down into it and on to
// the item (separators are skipped), Right into a cascade, Return.
bool menuWalk(HMENU bar, UINT id, std::vector<WORD>& walk) {
    int count = GetMenuItemCount(bar);
    for (int i = 0; i < count; ++i) {
        std::vector<WORD> inner;
        HMENU popup = GetSubMenu(bar, i);
        if (!popup || !findItem(popup, id, inner)) continue;
        walk.assign(1, VK_F10);
        for (int k = 0; k < i; ++k) walk.push_back(VK_RIGHT);
        walk.push_back(VK_DOWN);  // opens the pop-up on its first item
        walk.insert(walk.end(), inner.begin(), inner.end());
        walk.push_back(VK_RETURN);
        return true;
    }
    return false;
}

// ---- The run's files -------------------------------------------------------------------------

struct RunFile {
    std::string path;
    bool tooBig = false;  // or missing: the editor refuses it
};

bool writeSparse(const std::string& path, DWORD bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    size.QuadPart = bytes;
    bool ok = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    return CloseHandle(file) && ok;
}

// The same files on every run, whatever the start number.
bool makeFiles(const std::string& folder, size_t bigKb, std::vector<RunFile>& files) {
    Random random(17);
    struct Made {
        const char* name;
        std::string content;
    };
    const Made made[] = {
        {"small.b", "# adds two cells\r\n++>+++[<+>-]<.\r\n%the sum\r\n"},
        {"unix.b", "%Hello\n# a comment line\n" + programText(random, 600, "\n")},
        {"mixed.txt", "+\r-\r\r\n>x<\n\r\n%line\r"},
        {"empty.b", ""},
        {"big.b", programText(random, bigKb * 1024, "\r\n")},
    };
    for (const Made& file : made) {
        std::string path = folder + "\\" + file.name;
        if (!writeFile(path, file.content)) return false;
        files.push_back({path, false});
    }
    std::string huge = folder + "\\huge.b";
    if (!writeSparse(huge, kTooBigBytes)) return false;
    files.push_back({huge, true});
    return true;
}

// Size and time of each file of the folder: a save shows as a change.
using FolderState = std::vector<std::pair<std::string, std::pair<ULONGLONG, ULONGLONG>>>;

FolderState folderState(const std::string& folder) {
    FolderState state;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return state;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ULONGLONG size = (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        ULONGLONG time = (static_cast<ULONGLONG>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                         entry.ftLastWriteTime.dwLowDateTime;
        state.push_back({folder + "\\" + entry.cFileName, {size, time}});
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return state;
}

std::vector<std::string> changedFiles(const FolderState& before, const FolderState& after) {
    std::vector<std::string> changed;
    for (const auto& file : after) {
        bool same = false;
        for (const auto& old : before)
            if (old.first == file.first) same = old.second == file.second;
        if (!same) changed.push_back(file.first);
    }
    for (const auto& old : before) {
        bool kept = false;
        for (const auto& file : after) kept = kept || file.first == old.first;
        if (!kept) changed.push_back(old.first + " (deleted)");
    }
    return changed;
}

bool sameName(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// ---- The clipboard, read by this program ---------------------------------------------------------

bool readClipboard(std::string& out, bool& hasText) {
    for (int tries = 0; tries < 200; ++tries) {
        if (OpenClipboard(nullptr)) {
            hasText = false;
            out.clear();
            if (HANDLE data = GetClipboardData(CF_TEXT)) {
                if (const char* text = static_cast<const char*>(GlobalLock(data))) {
                    out = text;
                    hasText = true;
                    GlobalUnlock(data);
                }
            }
            CloseClipboard();
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

bool writeClipboard(const std::string& text) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!memory) return false;
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    bool ok = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    return ok;
}

// A text for the log: line ends and other control characters as escapes, long ones cut.
constexpr size_t kShownCapacity = 60;
constexpr size_t kLastSeenCapacity = 2000;

std::string shown(const std::string& text, size_t capacity = kShownCapacity) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < capacity; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 32) out += "\\x" + std::to_string(c);
        else out += static_cast<char>(c);
    }
    out += text.size() > capacity ? "\"... (" + std::to_string(text.size()) + " bytes)" : "\"";
    return out;
}

// The part of the text that a selection covers: the control counts a line break as one.
std::string selectedText(const std::string& text, Selection selection) {
    size_t begin = std::string::npos, end = std::string::npos;
    LONG unit = 0;
    for (size_t i = 0; i <= text.size(); ++unit) {
        if (unit == selection.from) begin = i;
        if (unit == selection.to) end = i;
        if (i == text.size()) break;
        i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    }
    if (begin == std::string::npos) begin = text.size();
    if (end == std::string::npos) end = text.size();
    return end > begin ? text.substr(begin, end - begin) : std::string();
}

// ---- The run -------------------------------------------------------------------------------------

// What the text must be when the editor's main window is back in front.
enum class TextRule { Free, Same, SameText, Empty, File };

class Run {
public:
    Run(EditorSession& editor, const std::string& folder, uint64_t start, DWORD deadline, HMENU menu, size_t bigKb)
        : editor_(editor), folder_(folder), random_(start), deadline_(deadline), menu_(menu), bigKb_(bigKb) {}

    bool prepare();
    bool step(int number);

    int saves = 0, opens = 0, questions = 0, boxes = 0;

private:
    // Each action names itself in the log and says what it may lead to.
    void keys(WORD key, unsigned modifiers, const std::string& name) {
        later([=] { editor_.press(key, modifiers); });
        action_ = name;
    }
    // Input goes out once the action has noted what it expects and what was there before.
    void later(std::function<void()> input) { pending_.push_back(std::move(input)); }
    // The main window's own minimize, maximize, restore and close boxes.
    void windowCommand(WPARAM command, const char* name, Act what) {
        later([=] { editor_.postToMain(WM_SYSCOMMAND, command, 0); });
        action_ = std::string("window: ") + name;
        act(what);
    }
    // The close box of the box or dialog in front.
    void closeBox(const char* name) {
        later([=] { editor_.postTo(editor_.active(), WM_SYSCOMMAND, SC_CLOSE, 0); });
        action_ = name;
    }
    void act(Act what);
    void actInMain();
    void command(const MenuCommand& command);
    void answerQuestion();
    void cancelDialog();
    const RunFile& anyFile();
    void answerOpen();
    void answerSave();
    void answerFileBox();
    bool chooseIn();
    bool check();
    bool checkMain();
    bool checkSaves();
    bool fail(const std::string& why) {
        failure_ = why;
        return false;
    }
    bool expect(Place place) { return std::find(allowed_.begin(), allowed_.end(), place) != allowed_.end(); }
    void allow(std::initializer_list<Place> places) { allowed_.assign(places); }
    std::string describeWindows();

    EditorSession& editor_;
    std::string folder_;
    Random random_;
    DWORD deadline_;
    HMENU menu_;
    size_t bigKb_;
    std::vector<RunFile> files_;
    std::set<HWND> othersAtStart_;
    int newNames_ = 0;

    // What the editor holds, as far as a user can know it.
    bool hasFile_ = false;
    std::string path_;
    bool mustAsk_ = false;     // opened or edited since it was last clean: New, Open, closing ask
    Act asking_ = Act::New;    // what the open save question is about
    std::string typedPath_;    // the name typed into the file dialog now open

    // The main window as last seen, and what the actions since may change.
    std::string text_;
    Selection selection_;
    LONG length_ = 0;  // in the control's units
    TextRule rule_ = TextRule::Free;
    std::string loadedPath_;
    std::string statusWanted_;
    std::string saveWanted_;   // the file that the action must have saved
    bool clipboardKept_ = false;
    std::string clipboard_;
    bool clipboardHasText_ = false;
    bool clipboardIsSelection_ = false;
    std::string selected_;
    bool selectedAll_ = false;
    FolderState folderBefore_;

    std::vector<Place> allowed_;
    std::vector<std::function<void()>> pending_;
    std::string action_;
    std::string failure_;

public:
    const std::string& failure() const { return failure_; }
    const std::string& action() const { return action_; }
    // The main window as last seen before the failing action: what a test needs to replay it.
    std::string lastSeen() const {
        return "selection " + std::to_string(selection_.from) + "," + std::to_string(selection_.to) + " in " +
               shown(text_, kLastSeenCapacity);
    }
};

bool Run::prepare() {
    if (!makeFiles(folder_, bigKb_, files_)) return fail("cannot write the run's files in " + folder_);
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != editor_.pid() && IsWindowVisible(window)) othersAtStart_.insert(window);
    }
    // Something to paste from the start: Wine's control misplaces the caret after pasting nothing.
    if (!writeClipboard("[-]")) return fail("cannot fill the clipboard");
    std::string why;
    if (!editor_.bringToFront(kFrontTimeout, why) || !editor_.calibrate(deadline_, why) ||
        !editor_.settle(deadline_, why))
        return fail(why);
    if (!editor_.text(text_) || !editor_.selection(selection_) || !editor_.length(length_))
        return fail("cannot read the editor's text");
    folderBefore_ = folderState(folder_);
    return true;
}

void Run::act(Act what) {
    switch (what) {
    case Act::Edit:
    case Act::Copy:
    case Act::Cut:
        allow({Place::Main});
        rule_ = TextRule::Free;
        break;
    case Act::New:
        asking_ = Act::New;
        if (mustAsk_) allow({Place::Question});
        else allow({Place::Question, Place::Main});
        // Without a question the text goes: that is the one way New may change it here.
        rule_ = mustAsk_ ? TextRule::Same : TextRule::Empty;
        if (!mustAsk_) statusWanted_ = "Untitled.b";
        break;
    case Act::Open:
        asking_ = Act::Open;
        if (mustAsk_) allow({Place::Question});
        else allow({Place::Question, Place::OpenDialog});
        rule_ = TextRule::Same;
        break;
    case Act::Save:
        if (hasFile_) {
            allow({Place::Main});
            saveWanted_ = path_;
        } else {
            allow({Place::SaveDialog});
        }
        rule_ = TextRule::Same;
        break;
    case Act::Close:
        asking_ = Act::Close;
        allow({Place::Question});
        rule_ = TextRule::Same;
        break;
    // The check selects the first invalid character.
    case Act::Check: allow({Place::Results}); rule_ = TextRule::SameText; break;
    case Act::About: allow({Place::About}); rule_ = TextRule::Same; break;
    case Act::Colour: allow({Place::Colour}); rule_ = TextRule::Same; break;
    case Act::Minimize: allow({Place::Minimized}); rule_ = TextRule::Same; break;
    case Act::Maximize:
    case Act::Restore:
    case Act::Resize: allow({Place::Main}); rule_ = TextRule::Same; break;
    }
    if (what == Act::Copy || what == Act::Cut) {
        // With nothing selected the clipboard stays as it was; else it holds the selection.
        clipboardKept_ = readClipboard(clipboard_, clipboardHasText_);
        clipboardIsSelection_ = selection_.from != selection_.to;
        selected_ = selectedText(text_, selection_);
        LONG length = 0;
        selectedAll_ = editor_.length(length) && selection_.to > length;
    }
}

void Run::command(const MenuCommand& item) {
    std::vector<WORD> walk;
    if (menu_ && random_.percent(40) && menuWalk(menu_, static_cast<UINT>(item.id), walk)) {
        later([=] { for (WORD key : walk) editor_.press(key); });
        action_ = std::string("menu by keys: ") + item.name;
    } else {
        later([=] { editor_.postToMain(WM_COMMAND, item.id, 0); });
        action_ = std::string("menu: ") + item.name;
    }
    act(item.act);
}

void Run::actInMain() {
    int total = kCharacterWeight + kNavigationWeight + kMenuWeight + kWindowWeight;
    for (const Key& key : kKeys) total += key.weight;
    int pick = random_.below(total);
    if ((pick -= kCharacterWeight) < 0) {
        char c = kCharacters[random_.below(static_cast<int>(sizeof kCharacters - 1))];
        later([=] { editor_.type(std::string(1, c)); });
        action_ = std::string("type ") + c;
        act(Act::Edit);
        return;
    }
    if ((pick -= kNavigationWeight) < 0) {
        const NavigationKey& key = kNavigation[random_.below(8)];
        int shape = random_.below(10);
        unsigned modifiers = shape < 5 ? kNoModifier : shape < 7 ? kCtrl : shape < 9 ? kShift : kCtrl | kShift;
        std::string name = std::string(modifiers & kCtrl ? "ctrl+" : "") + (modifiers & kShift ? "shift+" : "") + key.name;
        keys(key.key, modifiers, name);
        act(Act::Edit);
        return;
    }
    if ((pick -= kMenuWeight) < 0) {
        const MenuCommand& item = kMenu[random_.below(static_cast<int>(sizeof kMenu / sizeof kMenu[0]))];
        // Leaving is tried only where the save question must come: No would end the editor.
        if (item.act == Act::Close && !mustAsk_) {
            command(kMenu[2]);  // Save instead
            return;
        }
        // Maximize Window gives the editor a new size: see the window actions below.
        if (item.act == Act::Maximize && length_ > kLongText) {
            windowCommand(SC_MINIMIZE, "minimize", Act::Minimize);
            return;
        }
        command(item);
        return;
    }
    if ((pick -= kWindowWeight) < 0) {
        // Under Wine the control lays out all of its text again on each new size, and its heap
        // grows slower with each pass: on a text this long that takes minutes. Not the editor's to
        // change; on such a text the run keeps to window actions that leave the size as it was.
        int kind = random_.below(5);
        if (length_ > kLongText && kind >= 1 && kind <= 3) kind = 0;
        switch (kind) {
        case 0:
            windowCommand(SC_MINIMIZE, "minimize", Act::Minimize);
            break;
        case 1:
            windowCommand(SC_MAXIMIZE, "maximize", Act::Maximize);
            break;
        case 2:
            windowCommand(SC_RESTORE, "restore", Act::Restore);
            break;
        case 3: {
            int width = 300 + random_.below(700), height = 200 + random_.below(500);
            later([=] { editor_.resizeMain(width, height); });
            action_ = "window: resize to " + std::to_string(width) + "x" + std::to_string(height);
            act(Act::Resize);
            break;
        }
        default:
            if (mustAsk_) {
                windowCommand(SC_CLOSE, "close box", Act::Close);
            } else {
                windowCommand(SC_RESTORE, "restore", Act::Restore);
            }
        }
        return;
    }
    for (const Key& key : kKeys) {
        if ((pick -= key.weight) >= 0) continue;
        if (key.act == Act::Close && !mustAsk_) {
            keys('S', kCtrl, "ctrl+s");
            act(Act::Save);
        } else {
            keys(key.key, key.modifiers, key.name);
            act(key.act);
        }
        return;
    }
}

void Run::answerQuestion() {
    ++questions;
    int pick = random_.below(10);
    if (pick < 4 || (pick < 7 && asking_ == Act::Close)) {
        if (random_.percent(50)) keys('Y', 0, "answer y");
        else keys(VK_RETURN, 0, "answer Return (Yes)");
        if (hasFile_) {
            allow({Place::Main});
            saveWanted_ = path_;
        } else {
            allow({Place::SaveDialog});
        }
    } else if (pick < 7) {
        keys('N', 0, "answer n");
        if (asking_ == Act::New) {
            allow({Place::Main});
            rule_ = TextRule::Empty;
            statusWanted_ = "Untitled.b";
        } else {
            allow({Place::OpenDialog});
        }
    } else if (pick < 9) {
        keys(VK_ESCAPE, 0, "answer Escape");
        allow({Place::Main});
    } else {
        closeBox("answer: the box's close box");
        allow({Place::Main, Place::Question});
    }
}

// Types a name into the file dialog's name box, replacing what it holds, and confirms it; false
// (and Escape) when the name box has not the focus.
bool Run::chooseIn() {
    HWND focus = editor_.focus();
    if (!focus || GetDlgCtrlID(GetParent(focus)) != kFileNameBoxId) {
        keys(VK_ESCAPE, 0, "Escape (the name box has not the focus)");
        allow({Place::Main});
        return false;
    }
    later([=] { editor_.press(VK_HOME); });
    later([=] { editor_.press(VK_END, kShift); });
    later([=] { editor_.type(typedPath_); });
    later([=] { editor_.press(VK_RETURN); });
    action_ = "choose " + typedPath_;
    return true;
}

void Run::cancelDialog() {
    keys(VK_ESCAPE, 0, "Escape");
    allow({Place::Main});
}

const RunFile& Run::anyFile() { return files_[static_cast<size_t>(random_.below(static_cast<int>(files_.size())))]; }

void Run::answerOpen() {
    int pick = random_.below(20);
    if (pick < 3) return cancelDialog();
    // Wine's dialog lets a missing name through; the editor then cannot open it.
    bool missing = pick < 5;
    RunFile chosen = missing ? RunFile{folder_ + "\\missing.b", true} : anyFile();
    typedPath_ = chosen.path;
    if (!chooseIn()) return;
    allow({Place::Main});
    ++opens;
    if (chosen.tooBig) {
        statusWanted_ = "Error opening file...";
    } else {
        rule_ = TextRule::File;
        loadedPath_ = chosen.path;
        statusWanted_ = fileTitle(chosen.path);
    }
}

void Run::answerSave() {
    int pick = random_.below(10);
    if (pick < 2) return cancelDialog();
    bool fresh = pick < 6;
    typedPath_ = fresh ? folder_ + "\\saved" + std::to_string(++newNames_) + ".b" : anyFile().path;
    if (!chooseIn()) return;
    if (fresh) {
        allow({Place::Main});
        saveWanted_ = typedPath_;
    } else {
        allow({Place::FileBox});  // Wine asks before replacing
    }
}

void Run::answerFileBox() {
    ++boxes;
    HWND owner = GetWindow(editor_.active(), GW_OWNER);
    if (topTitle(owner) != "Save As") {  // the Open dialog's "file not found"
        keys(VK_RETURN, 0, "Return");
        allow({Place::OpenDialog});
        return;
    }
    if (random_.percent(60)) {
        keys('Y', 0, "answer y (replace)");
        allow({Place::Main});
        saveWanted_ = typedPath_;
    } else {
        keys('N', 0, "answer n (do not replace)");
        allow({Place::SaveDialog});
    }
}

bool Run::step(int number) {
    std::string why;
    if (!editor_.bringToFront(kFrontTimeout, why)) return fail(why);
    Place place = placeOf(editor_, editor_.active());
    saveWanted_.clear();
    statusWanted_.clear();
    clipboardKept_ = false;
    switch (place) {
    case Place::Main: actInMain(); break;
    case Place::Minimized:
        if (random_.percent(80) || length_ > kLongText) {
            windowCommand(SC_RESTORE, "restore", Act::Restore);
        } else {
            windowCommand(SC_MAXIMIZE, "maximize", Act::Maximize);
        }
        break;
    case Place::Results:
        switch (random_.below(4)) {
        case 0: keys(VK_RETURN, 0, "Return"); break;
        case 1: keys(VK_SPACE, 0, "Space"); break;
        case 2: keys(VK_ESCAPE, 0, "Escape"); break;
        default:
            closeBox("the box's close box");
        }
        allow({Place::Main});
        break;
    case Place::Question: answerQuestion(); break;
    case Place::OpenDialog: answerOpen(); break;
    case Place::SaveDialog: answerSave(); break;
    case Place::FileBox: answerFileBox(); break;
    case Place::Colour:
        if (random_.percent(50)) keys(VK_RETURN, 0, "Return (OK)");
        else keys(VK_ESCAPE, 0, "Escape (Cancel)");
        allow({Place::Main});
        break;
    case Place::About: {
        int pick = random_.below(3);
        bool onClose = GetDlgCtrlID(editor_.focus()) == IDC_ABOUT_CLOSE;
        if (pick == 0 && onClose) {
            keys(VK_SPACE, 0, "Space on Close");
            allow({Place::Main});
        } else if (pick == 1) {
            keys(VK_ESCAPE, 0, "Escape (ignored)");
            allow({Place::About});
        } else {
            closeBox("the box's close box");
            allow({Place::Main});
        }
        break;
    }
    case Place::Other:
        return fail("an unknown window is in front: \"" + topTitle(editor_.active()) + "\"");
    }
    for (auto& input : pending_) input();
    pending_.clear();
    if (!editor_.settle(deadline_, why)) return fail(why);
    // A box without an owner (Results) can leave the activation to another program's window
    // when it closes, as Windows may too; a person then clicks the editor.
    if (!editor_.active()) {
        if (!editor_.bringToFront(kFrontTimeout, why) || !editor_.settle(deadline_, why)) return fail(why);
        action_ += " (then the editor brought back to the front)";
    }
    if (!check()) return false;
    Place now = placeOf(editor_, editor_.active());
    std::printf("#%d %s: %s -> %s", number, placeName(place), action_.c_str(), placeName(now));
    if (now == Place::Main) std::printf(" [selection %ld,%ld of %ld]", selection_.from, selection_.to, length_);
    std::printf("\n");
    return true;
}

std::string Run::describeWindows() {
    std::string list;
    for (HWND window : editor_.visibleWindows()) list += " \"" + topTitle(window) + "\"";
    return list;
}

bool Run::check() {
    if (editor_.inMenu()) return fail("the menu stayed open");
    HWND active = editor_.active();
    Place now = placeOf(editor_, active);
    if (!expect(now)) {
        std::string wanted;
        for (Place place : allowed_) wanted += std::string(wanted.empty() ? "" : " or ") + placeName(place);
        std::string seen = placeName(now);
        if (now == Place::Other) seen += " \"" + topTitle(active) + "\"";
        return fail("expected " + wanted + ", found " + seen);
    }
    // The question means nothing has happened yet, whatever its answer will do.
    if (now == Place::Question) {
        rule_ = TextRule::Same;
        statusWanted_.clear();
    }
    // The editor's windows are its main window and the one box or dialog in front.
    std::set<HWND> wanted = {editor_.main()};
    if (now != Place::Main && now != Place::Minimized) wanted.insert(active);
    if (now == Place::FileBox) wanted.insert(GetWindow(active, GW_OWNER));
    std::vector<HWND> shown = editor_.visibleWindows();
    if (std::set<HWND>(shown.begin(), shown.end()) != wanted)
        return fail("stray window: the editor shows" + describeWindows() + " in the " + placeName(now));
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != editor_.pid() && IsWindowVisible(window) && !othersAtStart_.count(window))
            return fail("stray window of another process: \"" + topTitle(window) + "\"");
    }
    if (!checkSaves()) return false;
    return now != Place::Main || checkMain();
}

bool Run::checkSaves() {
    FolderState after = folderState(folder_);
    std::vector<std::string> changed = changedFiles(folderBefore_, after);
    folderBefore_ = after;
    if (saveWanted_.empty()) {
        if (!changed.empty()) return fail("a file changed without a save: " + changed[0]);
        return true;
    }
    if (changed.size() != 1 || !sameName(changed[0], saveWanted_)) {
        std::string seen = changed.empty() ? std::string("nothing") : changed[0];
        return fail("the save should have written " + saveWanted_ + ", changed: " + seen +
                    (changed.size() > 1 ? " and more" : "") + "; status \"" + editor_.status() + "\"");
    }
    return true;
}

bool Run::checkMain() {
    std::string text;
    Selection selection;
    LONG length = 0;
    if (!editor_.text(text) || !editor_.selection(selection) || !editor_.length(length))
        return fail("cannot read the editor's text");
    // The caret and the selection stay inside the text; select-all reaches the final line end.
    bool inside = selection.from >= 0 && selection.from <= selection.to && selection.from <= length &&
                  selection.to <= length + 1 && (selection.from != selection.to || selection.to <= length);
    if (!inside)
        return fail("the selection " + std::to_string(selection.from) + "," + std::to_string(selection.to) +
                    " is outside the text of " + std::to_string(length) + " characters");
    switch (rule_) {
    case TextRule::Same:
        if (text != text_) return fail("the text changed under a command that edits nothing");
        if (!(selection == selection_))
            return fail("the selection moved from " + std::to_string(selection_.from) + "," +
                        std::to_string(selection_.to) + " to " + std::to_string(selection.from) + "," +
                        std::to_string(selection.to) + " under a command that edits nothing");
        break;
    case TextRule::SameText:
        if (text != text_) return fail("the text changed under Check Syntax");
        break;
    case TextRule::Empty:
        if (!text.empty()) return fail("New left text behind");
        hasFile_ = false;
        path_.clear();
        mustAsk_ = false;
        break;
    case TextRule::File: {
        std::string content;
        if (!readFile(loadedPath_, content)) return fail("cannot read " + loadedPath_);
        if (text != withWindowsLineEnds(content)) return fail("the text shown is not the text of " + loadedPath_);
        hasFile_ = true;
        path_ = loadedPath_;
        mustAsk_ = true;
        break;
    }
    case TextRule::Free:
        if (text != text_) mustAsk_ = true;
        break;
    }
    if (!saveWanted_.empty()) {
        std::string content;
        if (!readFile(saveWanted_, content)) return fail("cannot read the saved " + saveWanted_);
        if (content != text) return fail("the saved " + saveWanted_ + " is not the text shown");
        if (editor_.status() != fileTitle(saveWanted_))
            return fail("after saving " + saveWanted_ + " the status bar says \"" + editor_.status() + "\"");
        hasFile_ = true;
        path_ = saveWanted_;
        mustAsk_ = false;
        bool known = false;
        for (RunFile& file : files_) {
            if (!sameName(file.path, saveWanted_)) continue;
            file.tooBig = false;
            known = true;
        }
        if (!known) files_.push_back({saveWanted_, false});  // Open may bring it back
        ++saves;
    }
    if (!statusWanted_.empty() && editor_.status() != statusWanted_)
        return fail("the status bar says \"" + editor_.status() + "\", not \"" + statusWanted_ + "\"");
    if (clipboardKept_) {
        std::string clipboard;
        bool hasText = false;
        if (!readClipboard(clipboard, hasText)) return fail("cannot read the clipboard");
        if (!clipboardIsSelection_ && (hasText != clipboardHasText_ || clipboard != clipboard_))
            return fail("Copy or Cut with nothing selected changed the clipboard from " + shown(clipboard_) + " to " +
                        (hasText ? shown(clipboard) : std::string("nothing")));
        // Wine's control adds a line end to a copy of everything (the README's known difference).
        if (clipboardIsSelection_ && clipboard != selected_ && !(selectedAll_ && clipboard == selected_ + "\r\n"))
            return fail("after Copy or Cut the clipboard holds " + shown(clipboard) + ", the selection was " +
                        shown(selected_));
    }
    text_ = text;
    selection_ = selection;
    length_ = length;
    rule_ = TextRule::Free;
    return true;
}

struct Options {
    std::string folder;
    uint64_t start = 0;
    bool startGiven = false;
    DWORD seconds = 60;
    long actions = 0;
    DWORD deadlineSeconds = 10;
    size_t bigKb = kBigKb;
    std::string menuProgram;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--folder") options.folder = value;
        else if (name == "--start") options.start = std::strtoull(value, nullptr, 10), options.startGiven = true;
        else if (name == "--seconds") options.seconds = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
        else if (name == "--actions") options.actions = std::strtol(value, nullptr, 10);
        else if (name == "--deadline") options.deadlineSeconds = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
        else if (name == "--big-kb") options.bigKb = std::strtoul(value, nullptr, 10);
        else if (name == "--menu") options.menuProgram = value;
        else return false;
    }
    return argc % 2 == 1 && !options.folder.empty() && options.startGiven && options.deadlineSeconds > 0;
}

HMENU programMenu(const char* program) {
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module ? LoadMenuA(module, MAKEINTRESOURCEA(IDR_MAINMENU)) : nullptr;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: pxrandom --folder FOLDER --start NUMBER --seconds S [--actions N] "
                             "[--deadline S] [--big-kb N] [--menu EXE]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    HMENU menu = options.menuProgram.empty() ? nullptr : programMenu(options.menuProgram.c_str());
    DWORD deadline = options.deadlineSeconds * 1000;
    uint64_t start = options.start;
    DWORD seconds = options.seconds;
    long limit = options.actions;
    std::string folder = options.folder;

    HWND main = waitFor(PELLUX_CAPTION, kStartTimeout);
    EditorSession editor;
    std::string why;
    if (!main || !editor.attach(main, why)) {
        std::printf("FAIL: %s\n", main ? why.c_str() : "no editor window");
        return 1;
    }
    Run run(editor, folder, start, deadline, menu, options.bigKb);
    if (!run.prepare()) {
        std::printf("FAIL before the first action: %s\n", run.failure().c_str());
        return 1;
    }
    DWORD began = GetTickCount();
    int number = 0;
    while ((limit <= 0 || number < limit) && GetTickCount() - began < seconds * 1000) {
        if (!run.step(++number)) {
            std::printf("FAIL at #%d (%s): %s\n", number, run.action().c_str(), run.failure().c_str());
            std::printf("before it: %s\n", run.lastSeen().c_str());
            if (!editor.alive())
                std::printf("the editor ended with exit code 0x%08lX\n", static_cast<unsigned long>(editor.exitCode()));
            else
                std::printf("in front: \"%s\"; status bar: \"%s\"\n", topTitle(editor.active()).c_str(),
                            editor.status().c_str());
            return 1;
        }
    }
    std::printf("random use, start number %llu: %d actions in %lu s; %d saves and %d opens checked, "
                "%d save questions and %d file dialog boxes answered\n",
                static_cast<unsigned long long>(start), number, (GetTickCount() - began) / 1000, run.saves,
                run.opens, run.questions, run.boxes);
    return 0;
}
