/* The one place of the program's version: the version record, the caption and the About box. */
#ifndef PELLUX_VERSION_H
#define PELLUX_VERSION_H

#define PELLUX_VERSION_MAJOR    1
#define PELLUX_VERSION_MINOR    0
#define PELLUX_VERSION_PATCH    1
#define PELLUX_VERSION_TEXT     "1.0.1"
#define PELLUX_CAPTION          "Pellux (Extended Syntax) IDE Version 1.0.1"
#define PELLUX_PRODUCT          "Pellux IDE"
#define PELLUX_HOMEPAGE         "https://pellux.invalid/"

#endif
