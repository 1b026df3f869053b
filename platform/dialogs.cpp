#include "dialogs.h"

PlatformDialogs platformDialogs = {MessageBoxExA, GetOpenFileNameA, GetSaveFileNameA, ChooseColorA};
