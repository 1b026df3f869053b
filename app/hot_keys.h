// The eight system-wide hot keys. They are this editor's only while its main window is active
// (or one of its own dialogs is), so that other programs, a second editor among them, keep
// theirs; the editor that lets go hands them to another editor that is now in front.
#ifndef PELLUX_HOT_KEYS_H
#define PELLUX_HOT_KEYS_H

#include "../platform/win.h"

constexpr int kHotKeyCount = 8;

// When the window starts.
void takeHotKeys(HWND mainWindow);
// WM_ACTIVATE: takes the keys on activation, lets go of them and hands them over on deactivation.
void onActivateHotKeys(HWND mainWindow, WPARAM wParam, LPARAM lParam);
// WM_ACTIVATEAPP: another program is now in front.
void onActivateAppHotKeys(HWND mainWindow, WPARAM active);
// WM_TIMER: false for timers that are not the retry's.
bool onHotKeyRetryTimer(HWND mainWindow, WPARAM timer);
// The message another editor posts when it has let go of the keys.
bool isHotKeyHandOver(UINT message);
void onHotKeyHandOver(HWND mainWindow);

// A key the editor control is about to act on (EN_MSGFILTER): while the keys are not yet this
// window's, one of them reaches the control as a plain key, and is taken as the hot key; true
// when it was, and the control must ignore it.
bool onEditorKey(HWND mainWindow, const MSGFILTER& key);

// The same for Alt+X, which the control leaves to the menu (WM_SYSCOMMAND SC_KEYMENU).
bool onMenuKey(HWND mainWindow, WPARAM command, LPARAM key);

// Turns a hot key into its command, only while the main window is the active window.
void dispatchHotKey(HWND mainWindow, WPARAM id);

#endif
