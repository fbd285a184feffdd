#include "console/args.h"
#include "console/argv.h"
#include "console/console.h"
#include "console/screens.h"

#include <new>

int main(int argc, char** argv)
{
    console_std();
    try {
        if (int status = args(arguments(argc, argv)); status >= 0)
            return status;
    } catch (const std::bad_alloc&) {
        // A command holds no work of the operator's: nothing was saved.
        notice("内存不足");
        return 1;
    }
    return run();
}
