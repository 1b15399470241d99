// taskschedd-exec: the supervisor of one task instance, started by taskschedd.

#include "supervisor/ExecSupervisor.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc != 2 || std::strncmp(argv[1], "-", 1) == 0) {
        std::fputs("Usage: taskschedd-exec INSTANCE-FILE\n"
                   "Runs one task instance for taskschedd, which starts it; not meant to be run by hand.\n",
                   stderr);
        return 2;
    }
    return ExecSupervisor(argv[1]).Run();
}
