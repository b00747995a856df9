#include "core/platform/LateLibrary.h"

#include <dlfcn.h>

void* LateLibrary::address(const char* symbol)
{
    std::call_once(m_once, [this] { m_handle = dlopen(m_soname, RTLD_NOW | RTLD_LOCAL); });
    return m_handle ? dlsym(m_handle, symbol) : nullptr;
}
