#include "core/platform/LateLibrary.h"

#include <dlfcn.h>

LateLibrary::LateLibrary(const char* soname)
    : m_handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL))
{
}

void* LateLibrary::address(const char* symbol) const
{
    return m_handle ? dlsym(m_handle, symbol) : nullptr;
}
