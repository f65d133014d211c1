#include <stdio.h>

#include "sekto.h"

// A blank, the 23 cells in brackets, and the backspaces that bring the cursor back onto the blank.
static char progress_bar[] =
    " [-----------------------]"
    "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b";
static_assert(sizeof(progress_bar) == 52 + 1, "the bar is 52 bytes");

unsigned marker_position(uint32_t progress, uint32_t count)
{
	return 2 + progress / count;
}

void draw_progress(uint32_t progress, uint32_t count)
{
	unsigned p = marker_position(progress, count);

	// The marker goes in only for the write, so the template is all dashes between draws.
	progress_bar[p] = 'O';
	fwrite(progress_bar, 1, 52, stdout);
	progress_bar[p] = '-';
	fflush(stdout);
}

const char *progress_template()
{
	return progress_bar;
}
