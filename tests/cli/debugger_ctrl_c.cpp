// Ctrl+C in the debugger on Windows: Pellux.Exe /d runs a program that never ends, a Ctrl+C
// event reaches it through a console it shares with this driver, and the run must stop, the
// prompt come back and the debugger still answer and quit.
//   debugger_ctrl_c PELLUX.EXE       (in a folder it may write forever.b to)
// Every wait polls up to a deadline.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kDeadlineMs = 20000;
constexpr DWORD kPollMs = 10;

class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    HANDLE get() const { return handle_; }
    HANDLE* receive() { close(); return &handle_; }
    void close() {
        if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// What comes out of the debugger, read by a thread of its own so that the program never waits
// on a full pipe. The program's own output (+[.] writes bytes of 1) is only counted.
struct Transcript {
    Transcript() { InitializeCriticalSection(&lock); }
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;
    ~Transcript() { DeleteCriticalSection(&lock); }

    std::string text() {
        EnterCriticalSection(&lock);
        std::string copy = debuggerText;
        LeaveCriticalSection(&lock);
        return copy;
    }
    unsigned long long bytes() {
        EnterCriticalSection(&lock);
        unsigned long long count = programBytes;
        LeaveCriticalSection(&lock);
        return count;
    }

    HANDLE pipe = nullptr;
    CRITICAL_SECTION lock;
    std::string debuggerText;  // without the CR of line ends
    unsigned long long programBytes = 0;
};

DWORD WINAPI readTranscript(void* parameter) {
    Transcript& transcript = *static_cast<Transcript*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(transcript.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        EnterCriticalSection(&transcript.lock);
        for (DWORD i = 0; i < got; ++i) {
            if (buffer[i] == 1) ++transcript.programBytes;
            else if (buffer[i] != '\r') transcript.debuggerText += buffer[i];
        }
        LeaveCriticalSection(&transcript.lock);
    }
    return 0;
}

// The event goes to every process of the console, this one too: it must live on.
BOOL WINAPI keepRunning(DWORD event) { return event == CTRL_C_EVENT; }

template <typename Condition> bool poll(Condition done) {
    for (DWORD start = GetTickCount(); !done(); Sleep(kPollMs))
        if (GetTickCount() - start > kDeadlineMs) return false;
    return true;
}

bool send(HANDLE input, const char* text) {
    DWORD length = static_cast<DWORD>(std::strlen(text)), written = 0;
    return WriteFile(input, text, length, &written, nullptr) && written == length;
}

// A call that failed, with its error.
int failed(const char* call) {
    std::fprintf(stderr, "FAIL: %s (error %lu)\n", call, GetLastError());
    return 1;
}

// The debugger did not do what it should, with what it wrote.
int wrong(const char* what, Transcript& transcript) {
    std::fprintf(stderr, "FAIL: %s; the debugger wrote:\n%s\n", what, transcript.text().c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) { std::fputs("usage: debugger_ctrl_c PELLUX.EXE\n", stderr); return 2; }

    // Wine starts a program that has no terminal with a console handle that leads nowhere: no
    // event can be sent through it, and AllocConsole refuses while it is set. On Windows this
    // gives the test a console of its own.
    FreeConsole();
    if (!AllocConsole()) return failed("AllocConsole");
    if (!SetConsoleCtrlHandler(keepRunning, TRUE)) return failed("SetConsoleCtrlHandler");

    std::FILE* source = std::fopen("forever.b", "wb");
    bool written = source && std::fputs("+[.]", source) >= 0;
    if (source && std::fclose(source) != 0) written = false;
    if (!written) return failed("writing forever.b");

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    Handle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.receive(), inputWrite.receive(), &inherited, 0) ||
        !CreatePipe(outputRead.receive(), outputWrite.receive(), &inherited, 0) ||
        !SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0))
        return failed("pipes");

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead.get();
    startup.hStdOutput = outputWrite.get();
    startup.hStdError = outputWrite.get();
    std::string commandLine = std::string("\"") + argv[1] + "\" /d /f forever.b";
    PROCESS_INFORMATION started = {};
    // In this process group and console: a new group would have Ctrl+C turned off.
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
        return failed("starting the debugger");
    Handle process, thread;
    *process.receive() = started.hProcess;
    *thread.receive() = started.hThread;
    inputRead.close();
    outputWrite.close();

    Transcript transcript;
    transcript.pipe = outputRead.get();
    Handle reader;
    *reader.receive() = CreateThread(nullptr, 0, readTranscript, &transcript, 0, nullptr);
    if (!reader.get()) {
        TerminateProcess(process.get(), 1);
        return failed("the reading thread");
    }
    int result = [&]() {
        if (!send(inputWrite.get(), "c\n")) return failed("sending c");
        if (!poll([&] { return transcript.bytes() > 0; })) return wrong("the program did not start", transcript);
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return failed("GenerateConsoleCtrlEvent");
        if (!poll([&] { return transcript.text().find("interrupted\n") != std::string::npos; }))
            return wrong("Ctrl+C did not stop the run", transcript);
        if (!send(inputWrite.get(), "w\nq\n")) return failed("sending w and q");
        inputWrite.close();
        if (WaitForSingleObject(process.get(), kDeadlineMs) != WAIT_OBJECT_0)
            return wrong("the debugger did not quit", transcript);
        return 0;
    }();
    if (result != 0) TerminateProcess(process.get(), 1);
    // The pipe closes with the debugger; the thread must be done before the transcript goes.
    if (WaitForSingleObject(reader.get(), kDeadlineMs) != WAIT_OBJECT_0) {
        std::fputs("FAIL: the debugger's output did not end\n", stderr);
        ExitProcess(1);
    }
    if (result != 0) return result;

    // Stopped at the loop's start, where each turn looks at the flag, then the prompt, where w answers.
    const char stop[] = "forever.b:1:2\n  +[.]\n   ^\n  cells 0-4: [1] 0 0 0 0\n(pellux) ";
    std::string text = transcript.text();
    std::size_t at = text.find("interrupted\n");
    if (text.compare(at, std::string::npos, std::string("interrupted\n") + stop + stop) != 0)
        return wrong("not the stop and the prompt expected after Ctrl+C", transcript);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return failed("GetExitCodeProcess");
    if (code != 0) {
        std::fprintf(stderr, "FAIL: the debugger exited with %lu\n", code);
        return 1;
    }
    std::puts("Ctrl+C stopped the run and the debugger went on");
    return 0;
}
