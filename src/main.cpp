#include "console/args.h"
#include "console/argv.h"
#include "console/console.h"
#include "console/screens.h"

int main(int argc, char** argv)
{
    console_std();
    if (int status = args(arguments(argc, argv)); status >= 0)
        return status;
    return run();
}
