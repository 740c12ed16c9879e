// Progress of a running sweep on standard error, shown only when standard error is a terminal:
// a log or a CI run gets nothing.
#pragma once

// Replaces the progress line: the size being measured, its round, the time so far and the
// least time left.
void show_progress(int size_no, int sizes, int buflog, int round, int rounds, double elapsed_s,
                   double left_s);

// Erases the progress line, so that a table row on the same terminal starts clean.
void clear_progress();
