// The first argument of a command line, as the start-up file name takes it.
// Platform-free: builds on the host for unit tests and fuzzing.
#pragma once

// Finds the first argument after the program path in commandLine. Only the space separates and
// only the double quote quotes. When found, its end mark in commandLine is overwritten with a
// terminator (the text is shortened in place) and its first character is returned. Returns
// nullptr when there is no argument or it is empty.
char *FindFirstArgument(char *commandLine);
