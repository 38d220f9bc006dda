// The start-up file name: the first argument of the process's command line.
#include "core/app_state.h"
#include "core/command_line.h"

bool GetFirstArgument(char *buffer, int capacity)
{
    char *argument = FindFirstArgument(GetCommandLineA());
    if (argument == nullptr)
        return false;
    lstrcpynA(buffer, argument, capacity);
    return true;
}
