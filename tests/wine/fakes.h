// Answers for the platform dialogs that wait for a person, and a record of how they were asked.
#ifndef PELLUX_TEST_FAKES_H
#define PELLUX_TEST_FAKES_H

#include "platform/dialogs.h"

#include <string>
#include <vector>

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
    WORD language;
};

struct FileDialogCall {
    OPENFILENAMEA record;
    std::string filter;      // pairs joined with '|'
    std::string initialPath;
};

struct Fakes {
    std::vector<MessageBoxCall> boxes;
    int boxAnswer = IDNO;

    std::vector<FileDialogCall> openCalls;
    std::vector<FileDialogCall> saveCalls;
    std::string chosenPath;  // empty: the user cancels
    // Runs inside a file dialog, as a person's actions meanwhile would.
    void (*duringFileDialog)() = nullptr;

    std::vector<CHOOSECOLORA> colourCalls;
    std::vector<COLORREF> customColoursSeen;
    bool colourChosen = false;
    COLORREF colour = 0;

    void install();
};

extern Fakes fakes;

#endif
