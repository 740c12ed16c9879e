// Progress of a running sweep on standard error, shown only when standard error is a terminal:
// a log or a CI run gets nothing.
#pragma once

// Replaces the progress line: the size being measured (unit unit_no of units: each pair's
// sizes), its round and the time so far. With a fixed number of rounds (rounds > 0) left_s is
// the least time left; otherwise it is what is left of the time budget.
void show_progress(int unit_no, int units, int buflog, int round, int rounds, double elapsed_s,
                   double left_s);

// Erases the progress line, so that a table row on the same terminal starts clean.
void clear_progress();
