// Records every command line a box program hands to the shell, exactly as
// given, in its place in the box's log.
#include "boxrecord.h"

#include <dlfcn.h>
#include <stdlib.h>

extern "C" int system(const char *command)
{
    static auto fn = reinterpret_cast<int (*)(const char *)>(dlsym(RTLD_NEXT, "system"));
    if (command) boxrec::Line("system").add("cmd", command).write();
    return fn(command);
}
