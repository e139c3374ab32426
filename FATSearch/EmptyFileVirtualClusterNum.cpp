#include "EmptyFileVirtualClusterNum.h"

CEmptyFileVirtualClusterNum& GetEmptyFileVirtualClusterNumObject()
{
    static CEmptyFileVirtualClusterNum counter;
    return counter;
}
