// logger_getopt: single-letter options in the classic style.
//
// Options are read from argv[1] on until the first word that is not an option
// ("-" alone or a word without a leading '-') or the word "--" (consumed).
// Letters may be grouped ("-hf path"); a letter followed by ':' in the option
// string takes a value: the rest of its word, else the next word whatever it
// looks like. Errors go to standard error as
//     <argv[0]>: illegal option -- <letter>
//     <argv[0]>: option requires an argument -- <letter>
// and the letter read is '?'.
#pragma once

struct LOGGER_GETOPT {
    int ind = 1;                // next word of argv to look at
    int pos = 1;                // next letter inside that word
    int opt = 0;                // the letter just read (also after an error)
    const char* arg = nullptr;  // its value, for letters that take one
};

// The next option letter, '?' after an error, or -1 when the options end.
int logger_getopt(LOGGER_GETOPT& g, int argc, char* const argv[], const char* optstring);
