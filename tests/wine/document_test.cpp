#include "window_fixture.h"

#include "platform/editor_control.h"
#include "platform/safe_save.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string tempDirectory() {
    static std::string directory;
    if (directory.empty()) {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        directory = std::string(base) + "pellux-doc-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(directory.c_str(), nullptr);
    }
    return directory;
}

std::string tempFile(const std::string& name) { return tempDirectory() + "\\" + name; }

void writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string readFile(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "<missing>";
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The control gives out every line end as CR LF.
std::string withCrLf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

// Every text the status bar is given, in order (the 300 ms pause hides the first from a reader).
std::vector<std::string> statusTexts;
WNDPROC statusProc = nullptr;

LRESULT CALLBACK recordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT && lParam) statusTexts.push_back(reinterpret_cast<const char*>(lParam));
    return CallWindowProcA(statusProc, window, message, wParam, lParam);
}

// A pipe that hands out some bytes and then breaks, as a failing disk or network would.
struct BrokenPipe {
    std::string name;
    HANDLE server;
    std::string bytes;
    bool readBack;  // true: read what the editor writes, then break
};

DWORD WINAPI servePipe(LPVOID data) {
    BrokenPipe& pipe = *static_cast<BrokenPipe*>(data);
    ConnectNamedPipe(pipe.server, nullptr);
    DWORD done = 0;
    if (pipe.readBack) {
        char buffer[16];
        ReadFile(pipe.server, buffer, sizeof buffer, &done, nullptr);
    } else {
        WriteFile(pipe.server, pipe.bytes.data(), static_cast<DWORD>(pipe.bytes.size()), &done, nullptr);
        FlushFileBuffers(pipe.server);
    }
    CloseHandle(pipe.server);
    return 0;
}

HANDLE startBrokenPipe(BrokenPipe& pipe) {
    pipe.server = CreateNamedPipeA(pipe.name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    EXPECT_NE(pipe.server, INVALID_HANDLE_VALUE);
    return CreateThread(nullptr, 0, servePipe, &pipe, 0, nullptr);
}

class DocumentTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        statusTexts.clear();
        statusProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            GetDlgItem(window, IDC_STATUS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recordStatus)));
    }

    void open(const std::string& path) {
        fakes.chosenPath = path;
        command(IDM_OPEN);
    }

    // Leaves by the close box, answering the save question with the given button.
    void closeAnswering(int answer) {
        fakes.boxAnswer = answer;
        SendMessageA(window, WM_CLOSE, 0, 0);
    }

    bool ended() const { return !IsWindowVisible(window); }
    size_t questions() const {
        size_t count = 0;
        for (const MessageBoxCall& box : fakes.boxes)
            if (box.caption == "Warning") ++count;
        return count;
    }
};

} // namespace

TEST_F(DocumentTest, OpenAndSaveKeepEveryByteValue) {
    std::string bytes;
    for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    bytes += "\r\nCRLF line\rCR line\nLF line\r\n";
    std::string path = tempFile("bytes.b");
    writeFile(path, bytes);

    open(path);
    EXPECT_EQ(status(), "bytes.b");
    EXPECT_EQ(document().modified, 1);
    EXPECT_EQ(document().hasFile, 1);
    EXPECT_EQ(std::string(document().documentPath), path);

    statusTexts.clear();
    command(IDM_SAVE);
    EXPECT_EQ(readFile(path), withCrLf(bytes));
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Successfully saved.", "bytes.b"}));
    EXPECT_FALSE(documentNeedsSaving());
}

TEST_F(DocumentTest, SavingAShorterTextCutsTheFile) {
    std::string path = tempFile("long.b");
    writeFile(path, std::string(5000, '+'));
    open(path);
    setText("-->");
    command(IDM_SAVE);
    EXPECT_EQ(readFile(path), "-->");
}

TEST_F(DocumentTest, AMegabyteFileLoadsWholeAndSavesBack) {
    std::string line = "++++++++[>++++[>++>+++>+++>+<<<<-]>+>+>->>+[<]<-]>>.>---.+++++++..+++.>>.<-.<.\r\n";
    std::string bytes;
    while (bytes.size() < (1u << 20) + 1000) bytes += line;
    std::string path = tempFile("mega.b");
    writeFile(path, bytes);
    open(path);
    command(IDM_SAVE);
    EXPECT_EQ(readFile(path), bytes);
}

TEST_F(DocumentTest, FileDialogsAreAskedAsDesigned) {
    std::string path = tempFile("dialog.b");
    writeFile(path, "+");
    open(path);
    ASSERT_EQ(fakes.openCalls.size(), 1u);
    const OPENFILENAMEA& record = fakes.openCalls[0].record;
    EXPECT_EQ(record.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_EQ(record.hwndOwner, window);
    EXPECT_EQ(record.nMaxFile, 256u);
    EXPECT_EQ(record.Flags, 0x1904u);
    EXPECT_EQ(record.lpstrDefExt, nullptr);
    EXPECT_EQ(fakes.openCalls[0].filter, "Brainf*ck files (*.b,*.h)|*.b;*.h|Text Files (*.txt)|*.txt|");
    EXPECT_EQ(fakes.openCalls[0].initialPath, "");

    // The first save asks with the platform's Save dialog, which offers the current path.
    command(IDM_NEW);
    fakes.install();
    type("+");
    command(IDM_SAVE);
    ASSERT_EQ(fakes.saveCalls.size(), 1u);
    const OPENFILENAMEA& save = fakes.saveCalls[0].record;
    EXPECT_EQ(save.Flags, static_cast<DWORD>(OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
    EXPECT_STREQ(save.lpstrDefExt, "b");
    EXPECT_EQ(save.nMaxFile, 256u);
    EXPECT_EQ(fakes.saveCalls[0].filter, fakes.openCalls.empty() ? "Brainf*ck files (*.b,*.h)|*.b;*.h|Text Files (*.txt)|*.txt|"
                                                                   : fakes.openCalls[0].filter);
}

TEST_F(DocumentTest, FirstSaveCreatesANewFile) {
    std::string path = tempFile("created.b");
    DeleteFileA(path.c_str());
    type("+[>]");
    fakes.chosenPath = path;
    command(IDM_SAVE);
    EXPECT_EQ(readFile(path), "+[>]");
    EXPECT_EQ(document().hasFile, 1);
    EXPECT_FALSE(documentNeedsSaving());
    EXPECT_EQ(status(), "created.b");

    // From now on Save writes there without asking.
    type("-");
    command(IDM_SAVE);
    EXPECT_EQ(fakes.saveCalls.size(), 1u);
    EXPECT_EQ(readFile(path), "+[>]-");
}

TEST_F(DocumentTest, CancelledOpenOrFirstSaveChangesNothing) {
    type("+");
    fakes.boxAnswer = IDNO;
    fakes.chosenPath = "";
    command(IDM_OPEN);
    EXPECT_EQ(text(), "+");
    EXPECT_EQ(status(), "Untitled.b");
    EXPECT_TRUE(documentNeedsSaving());
    command(IDM_SAVE);
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving());
    EXPECT_EQ(std::string(document().documentPath), "");
}

TEST_F(DocumentTest, UserEditsCountAndProgramChangesDoNot) {
    std::string path = tempFile("edits.b");
    writeFile(path, "abc");
    struct Edit {
        const char* name;
        void (*run)(MainWindowTest&);
    };
    const Edit edits[] = {
        {"typing", [](MainWindowTest& t) { t.type("+"); }},
        {"Delete", [](MainWindowTest& t) { SendMessageA(t.editor(), EM_SETSEL, 0, 1); t.command(IDM_DELETE); }},
        {"Cut", [](MainWindowTest& t) { SendMessageA(t.editor(), EM_SETSEL, 0, 1); t.command(IDM_CUT); }},
        {"Paste", [](MainWindowTest& t) { SendMessageA(t.editor(), EM_SETSEL, 0, 1); t.command(IDM_COPY); t.command(IDM_PASTE); }},
        {"Backspace", [](MainWindowTest& t) { SendMessageA(t.editor(), EM_SETSEL, 1, 1); SendMessageA(t.editor(), WM_KEYDOWN, VK_BACK, 0); }},
    };
    for (const Edit& edit : edits) {
        open(path);
        command(IDM_SAVE);  // opened, then saved: nothing to ask about
        ASSERT_FALSE(documentNeedsSaving()) << edit.name;
        edit.run(*this);
        EXPECT_TRUE(documentNeedsSaving()) << edit.name;
        fakes.boxAnswer = IDNO;
        command(IDM_NEW);
    }

    // Undo after a save is a change of the text too, and so is Redo.
    open(path);
    type("x");
    command(IDM_SAVE);
    command(IDM_UNDO);
    EXPECT_TRUE(documentNeedsSaving());
    command(IDM_SAVE);
    command(IDM_REDO);
    EXPECT_TRUE(documentNeedsSaving());

    // The program's own changes: clearing, loading, colours.
    fakes.boxAnswer = IDNO;
    command(IDM_NEW);
    EXPECT_FALSE(documentNeedsSaving());
    fakes.colourChosen = true;
    fakes.colour = RGB(200, 0, 0);
    command(IDM_FORECOLOR);
    command(IDM_BACKCOLOR);
    EXPECT_FALSE(documentNeedsSaving());
}

TEST_F(DocumentTest, TypedTextIsNeverDroppedWithoutAQuestion) {
    type("+++");
    fakes.boxAnswer = IDNO;
    command(IDM_NEW);  // asks, No clears
    ASSERT_EQ(questions(), 1u);
    EXPECT_EQ(fakes.boxes.back().text, "The text has been modified. Would you like to save it now?");
    EXPECT_EQ(fakes.boxes.back().owner, window);
    EXPECT_EQ(fakes.boxes.back().style, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(text(), "");

    type("+");
    closeAnswering(IDNO);
    EXPECT_EQ(questions(), 2u);
    EXPECT_TRUE(ended());
}

TEST_F(DocumentTest, NewAnsweredYesKeepsWhatTheSaveLeft) {
    type("+");
    fakes.boxAnswer = IDYES;
    fakes.chosenPath = "";  // the save dialog is cancelled
    command(IDM_NEW);
    EXPECT_EQ(fakes.saveCalls.size(), 1u);
    EXPECT_EQ(text(), "+");
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving());
    command(IDM_NEW);  // and asks again
    EXPECT_EQ(questions(), 2u);

    std::string path = tempFile("new-yes.b");
    fakes.chosenPath = path;
    command(IDM_NEW);  // Yes, saved this time; the text stays until New is chosen again
    EXPECT_EQ(readFile(path), "+");
    EXPECT_EQ(text(), "+");
    EXPECT_FALSE(documentNeedsSaving());
    EXPECT_EQ(document().hasFile, 1);
    command(IDM_NEW);
    EXPECT_EQ(questions(), 3u);
    EXPECT_EQ(text(), "");
    EXPECT_EQ(status(), "Untitled.b");
}

TEST_F(DocumentTest, OpenAsksBeforeReplacingChangedText) {
    std::string path = tempFile("other.b");
    writeFile(path, "other");
    type("mine");
    fakes.boxAnswer = IDYES;
    fakes.chosenPath = "";
    command(IDM_OPEN);  // Yes: the save runs (cancelled here), and Open stops
    EXPECT_EQ(questions(), 1u);
    EXPECT_EQ(fakes.saveCalls.size(), 1u);
    EXPECT_TRUE(fakes.openCalls.empty());
    EXPECT_EQ(text(), "mine");

    fakes.boxAnswer = IDNO;
    open(path);  // No: on to the Open dialog
    EXPECT_EQ(questions(), 2u);
    EXPECT_EQ(text(), "other");
}

TEST_F(DocumentTest, FailedOpenKeepsTheTextAndThePath) {
    std::string path = tempFile("kept.b");
    writeFile(path, "kept");
    open(path);
    command(IDM_SAVE);
    open(tempFile("does-not-exist.b"));
    EXPECT_EQ(status(), "Error opening file...");
    EXPECT_EQ(text(), "kept");
    EXPECT_EQ(std::string(document().documentPath), path);
    type("+");
    command(IDM_SAVE);
    EXPECT_EQ(readFile(path), "+kept");
    EXPECT_EQ(readFile(tempFile("does-not-exist.b")), "<missing>");
}

TEST_F(DocumentTest, ReadFailurePartWayKeepsTheOldText) {
    BrokenPipe pipe{"\\\\.\\pipe\\pellux-read-" + std::to_string(GetCurrentProcessId()), nullptr,
                    std::string(3000, '+'), false};
    HANDLE server = startBrokenPipe(pipe);
    type("old");
    fakes.boxAnswer = IDNO;
    open(pipe.name);
    WaitForSingleObject(server, 5000);
    CloseHandle(server);
    EXPECT_EQ(status(), "Error opening file...");
    EXPECT_EQ(text(), "old");
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_EQ(std::string(document().documentPath), "");
}

TEST_F(DocumentTest, SaveToADeletedFileFailsAndAsksNextTime) {
    std::string path = tempFile("deleted.b");
    writeFile(path, "+");
    open(path);
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    statusTexts.clear();
    command(IDM_SAVE);
    EXPECT_FALSE(exists(path));  // not silently made again
    EXPECT_EQ(statusTexts, std::vector<std::string>{"Error saving file..."});
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving());
    fakes.chosenPath = "";
    command(IDM_SAVE);
    EXPECT_EQ(fakes.saveCalls.size(), 1u);
}

TEST_F(DocumentTest, FileLockedByAnotherProgramIsAFailedSave) {
    std::string path = tempFile("locked.b");
    writeFile(path, "+");
    open(path);
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    command(IDM_SAVE);
    CloseHandle(lock);
    EXPECT_EQ(status(), "Error saving file...");
    EXPECT_TRUE(documentNeedsSaving());
    EXPECT_EQ(readFile(path), "+");
}

TEST_F(DocumentTest, WriteFailurePartWayIsNeverReportedAsSaved) {
    BrokenPipe pipe{"\\\\.\\pipe\\pellux-write-" + std::to_string(GetCurrentProcessId()), nullptr, "", true};
    HANDLE server = startBrokenPipe(pipe);
    setText(std::string(200000, '+'));
    fakes.chosenPath = pipe.name;
    statusTexts.clear();
    command(IDM_SAVE);
    WaitForSingleObject(server, 5000);
    CloseHandle(server);
    EXPECT_EQ(statusTexts, std::vector<std::string>{"Error saving file..."});
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving() || document().modified == 0);  // nothing claims it was saved
    EXPECT_EQ(std::count(statusTexts.begin(), statusTexts.end(), "Successfully saved."), 0);
}

TEST_F(DocumentTest, ClosePromptYesSavesAndStaysOpen) {
    std::string path = tempFile("close.b");
    writeFile(path, "+");
    open(path);
    closeAnswering(IDYES);
    EXPECT_FALSE(ended());
    EXPECT_EQ(questions(), 1u);
    closeAnswering(IDYES);  // saved: no second question
    EXPECT_EQ(questions(), 1u);
    EXPECT_TRUE(ended());
}

// Root writes whatever the permissions say, so the unprivileged test run hands these paths in.
TEST_F(DocumentTest, UnwritableFileAndFolderAreFailedSaves) {
    const char* file = std::getenv("PELLUX_READONLY_FILE");
    const char* folder = std::getenv("PELLUX_READONLY_FOLDER");
    if (!file || !folder) GTEST_SKIP() << "needs the unprivileged run (tests/wine/unprivileged.sh)";
    std::string before = readFile(file);
    open(file);
    type("+");
    command(IDM_SAVE);
    EXPECT_EQ(status(), "Error saving file...");
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving());
    EXPECT_EQ(readFile(file), before);

    fakes.boxAnswer = IDNO;
    command(IDM_NEW);
    type("+");
    std::string inFolder = std::string(folder) + "\\new.b";
    fakes.chosenPath = inFolder;
    statusTexts.clear();
    command(IDM_SAVE);
    EXPECT_EQ(statusTexts, std::vector<std::string>{"Error saving file..."});
    EXPECT_FALSE(exists(inFolder));
    EXPECT_EQ(document().hasFile, 0);
    EXPECT_TRUE(documentNeedsSaving());
}

TEST_F(DocumentTest, LineEndsSurviveOpenAndSaveAcrossPieces) {
    // Every line end reaches the control as CR LF, whole, wherever the file's pieces split.
    std::string lines;
    for (int i = 0; lines.size() < 300000; ++i) lines += std::string(i % 97, '+') + (i % 5 ? "\r\n" : i % 2 ? "\n" : "\r");
    const std::string cases[] = {
        std::string(4095, '+') + "\r\n.",
        std::string(2047, '+') + "\r\n.",
        std::string(4095, '+') + "\r\r\n.",
        "# say A\r\r\n++++++++[>++++++++<-]>+.\r\n",
        "a\rb\nc\r\n\n\r\r",
        lines,
    };
    std::string path = tempFile("line-ends.b");
    for (const std::string& bytes : cases) {
        writeFile(path, bytes);
        open(path);
        std::string expected = withCrLf(bytes);
        EXPECT_TRUE(text() == expected) << "opened " << bytes.size() << " bytes as " << text().size();
        command(IDM_SAVE);
        EXPECT_TRUE(readFile(path) == expected) << "saved " << bytes.size() << " bytes as " << readFile(path).size();
    }
}

TEST_F(DocumentTest, OnlyNoDiscardsUnsavedWork) {
    // Esc closes the question under Wine (IDCANCEL); a box that could not be shown returns 0.
    std::string path = tempFile("answers.b");
    writeFile(path, "other");
    for (int answer : {IDCANCEL, 0, IDABORT, IDOK}) {
        type("work");
        fakes.install();
        fakes.boxAnswer = answer;
        fakes.chosenPath = path;
        command(IDM_NEW);
        command(IDM_OPEN);
        SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(questions(), 3u) << answer;
        EXPECT_FALSE(ended()) << answer;
        EXPECT_EQ(text(), "work") << answer;
        EXPECT_TRUE(fakes.openCalls.empty() && fakes.saveCalls.empty()) << answer;
        EXPECT_TRUE(documentNeedsSaving()) << answer;
        fakes.boxAnswer = IDNO;
        command(IDM_NEW);
    }
}

namespace {

// Watches the swap that puts a saved file in place.
struct SwapWatch {
    std::string targetAtSwap;
    std::string temporaryAtSwap;
    bool fail = false;
} swapWatch;

BOOL WINAPI watchReplace(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID, LPVOID) {
    swapWatch.targetAtSwap = readFile(replaced);
    swapWatch.temporaryAtSwap = readFile(replacement);
    if (swapWatch.fail) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ReplaceFileA(replaced, replacement, backup, flags, nullptr, nullptr);
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

} // namespace

TEST_F(DocumentTest, FailedOrInterruptedSaveLeavesTheFileWhole) {
    std::string folder = tempDirectory() + "\\swap";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string path = folder + "\\kept.b";
    std::string old = "+[>+<-]";
    writeFile(path, old);
    open(path);
    std::string text = std::string(200000, '+') + "\r\n";
    setText(text);

    // Up to the swap the file is untouched, so an editor killed before it loses nothing.
    platformFiles.replaceFile = watchReplace;
    swapWatch = SwapWatch();
    swapWatch.fail = true;
    command(IDM_SAVE);
    EXPECT_EQ(swapWatch.targetAtSwap, old);
    EXPECT_TRUE(swapWatch.temporaryAtSwap == text);
    EXPECT_EQ(status(), "Error saving file...");
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{"kept.b"});
    EXPECT_TRUE(documentNeedsSaving());

    swapWatch.fail = false;
    command(IDM_SAVE);
    platformFiles.replaceFile = ReplaceFileA;
    EXPECT_TRUE(readFile(path) == text);
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{"kept.b"});
    EXPECT_FALSE(documentNeedsSaving());

    // A full disk, through Save and through the Save dialog onto the file.
    const char* full = std::getenv("PELLUX_FULL_FOLDER");
    if (!full) GTEST_SKIP() << "needs a small full file system (tests/wine/full_disk.sh)";
    std::string program = std::string(full) + "\\program.b";
    std::string before = readFile(program);
    ASSERT_GT(before.size(), 30000u);
    for (bool throughDialog : {false, true}) {
        fakes.boxAnswer = IDNO;
        if (throughDialog) command(IDM_NEW);
        else open(program);
        setText(std::string(throughDialog ? 40000 : 67000, '-'));  // written at the stream's end, or during it
        fakes.chosenPath = program;
        command(IDM_SAVE);
        EXPECT_EQ(status(), "Error saving file...") << throughDialog;
        EXPECT_TRUE(readFile(program) == before) << throughDialog;
        EXPECT_EQ(filesIn(full), std::vector<std::string>{"program.b"}) << throughDialog;
    }
}

TEST_F(DocumentTest, OpenAndNewTakeAFreshControlLikeTheOld) {
    fakes.colourChosen = true;
    fakes.colour = RGB(0, 128, 0);
    command(IDM_FORECOLOR);
    fakes.colour = RGB(10, 20, 30);
    command(IDM_BACKCOLOR);
    HWND before = editor();
    LONG_PTR style = GetWindowLongPtrA(before, GWL_STYLE), exStyle = GetWindowLongPtrA(before, GWL_EXSTYLE);
    RECT place;
    GetWindowRect(before, &place);
    SetFocus(before);

    std::string path = tempFile("fresh.b");
    writeFile(path, "+++\r\n---");
    open(path);
    command(IDM_NEW);
    command(IDM_NEW);
    for (int step = 0; step < 2; ++step) {
        HWND now = editor();
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(GetWindowLongPtrA(now, GWL_STYLE), style);
        EXPECT_EQ(GetWindowLongPtrA(now, GWL_EXSTYLE), exStyle);
        RECT nowPlace;
        GetWindowRect(now, &nowPlace);
        EXPECT_TRUE(EqualRect(&place, &nowPlace));
        EXPECT_EQ(GetFocus(), now);
        EXPECT_EQ(SendMessageA(now, EM_SETBKGNDCOLOR, 0, RGB(10, 20, 30)), RGB(10, 20, 30));
        type("+");
        CHARFORMATA format = {};
        format.cbSize = sizeof format;
        SendMessageA(now, EM_SETSEL, 0, -1);
        SendMessageA(now, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        EXPECT_EQ(format.crTextColor, RGB(0, 128, 0));
        EXPECT_TRUE(format.dwEffects & CFE_BOLD);
        EXPECT_TRUE(documentNeedsSaving());  // edits in the new control count
        open(path);
        EXPECT_EQ(text(), "+++\r\n---");
    }
}

TEST_F(DocumentTest, FileTooBigForTheControlIsRefused) {
    // Many short lines cost the control most: the stream stops long before their end.
    std::string lines;
    for (int i = 0; i < 200000; ++i) lines += "+\r\n";
    std::string linesPath = tempFile("lines.b");
    writeFile(linesPath, lines);
    HANDLE file = CreateFileA(linesPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FileStream stream(file);
    BYTE piece[4096];
    LONG done = 0;
    size_t handedOn = 0;
    DWORD stop;
    while ((stop = streamReadCallback(reinterpret_cast<DWORD_PTR>(&stream), piece, sizeof piece, &done)) == 0 && done > 0)
        handedOn += static_cast<size_t>(done);
    CloseHandle(file);
    EXPECT_EQ(stop, 1u);
    EXPECT_LT(handedOn, lines.size());

    std::string path = tempFile("huge.b");
    writeFile(path, std::string((8 << 20) + 1, '+'));
    type("mine");
    fakes.boxAnswer = IDNO;
    open(path);
    EXPECT_EQ(status(), "Error opening file...");
    EXPECT_EQ(text(), "mine");
    EXPECT_EQ(document().hasFile, 0);
}
