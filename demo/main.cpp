// taskscheduler-demo: the desktop application for the computer's scheduled tasks.

#include "ProgramStartup.h"

int main(int argc, char** argv)
{
    return RunProgram(argc, argv);
}
