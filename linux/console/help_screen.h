// `kelvora help`: the on-line manual under <root>/help/, a tree of menus and pages of 17 lines.
#pragma once

#include "help_text.h"

// The sub-command: the contents first, then the tree until `q` or Esc. Returns 0 (also when the
// contents file is missing, after "\nerror.....exiting\n" on standard output).
int vornii_help();

// Clears the screen and writes the 17 lines of `page` at (3 + i, 3).
void Print_text(const help::Viewer& v, int page);
// One pass of drawing: the text when the window or page changed since it was last drawn, the
// title and clock, the footer of the window and page, and the frame over rows 2 to 20.
void FirstWindow(help::Viewer& v);
