#include "console/args.h"
#include "console/argv.h"
#include "console/console.h"
#include "console/screens.h"

#include <new>

int main(int argc, char** argv)
{
    console_std();
    // A command that runs out of memory fails like any other, with a word.
    try {
        if (int status = args(arguments(argc, argv)); status != start_menu)
            return status;
    } catch (const std::bad_alloc&) {
        notice("内存不足");
        return 1;
    }
    return run();
}
