#include "package/Zvk.h"

std::unique_ptr<TZvk>& CurrentZvk()
{
    static std::unique_ptr<TZvk> zvk;
    return zvk;
}
