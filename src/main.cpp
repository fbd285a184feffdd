#include "console/console.h"
#include "console/screens.h"

int main()
{
    console_std();
    return run();
}
