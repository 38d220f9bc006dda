// The program's entry point.
#include "core/app_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunMainDialog(instance);
}
