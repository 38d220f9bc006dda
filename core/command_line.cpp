#include "core/command_line.h"

#include <cstring>

char *FindFirstArgument(char *commandLine)
{
    // The program-path token ends at the first quote after an opening quote, or at the first
    // space. Nothing before the token is skipped.
    char *end = (commandLine[0] == '"') ? std::strchr(commandLine + 1, '"') : std::strchr(commandLine, ' ');
    if (end == nullptr)
        return nullptr;

    char *argument = end + 1;
    while (*argument == ' ')
        ++argument;

    char mark = ' ';
    if (*argument == '"') {
        ++argument;
        mark = '"';
    }
    char *argumentEnd = std::strchr(argument, mark);
    if (argumentEnd != nullptr)
        *argumentEnd = '\0';

    return (*argument == '\0') ? nullptr : argument;
}
