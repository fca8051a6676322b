#include "quisel.h"

int main(int, char **)
{
    quisel::getInstance();
    return 0;
}
