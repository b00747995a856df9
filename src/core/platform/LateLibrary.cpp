#include "core/platform/LateLibrary.h"

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QtGlobal>

#include <dlfcn.h>

namespace {

QMutex missingMutex;
QSet<QByteArray> missingForTesting;

void* open(const char* soname)
{
    {
        const QMutexLocker lock(&missingMutex);
        if (missingForTesting.contains(QByteArray(soname)))
            return nullptr;
    }
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    // The binary declares no dependency on these libraries, so this is where a
    // missing one shows; the caller tells the user what cannot work without it.
    if (!handle)
        qWarning("cannot open %s: %s", soname, dlerror());
    return handle;
}

} // namespace

LateLibrary::LateLibrary(const char* soname)
    : m_handle(open(soname))
{
}

void LateLibrary::setMissingForTesting(const char* soname)
{
    const QMutexLocker lock(&missingMutex);
    missingForTesting.insert(QByteArray(soname));
}

void* LateLibrary::address(const char* symbol) const
{
    return m_handle ? dlsym(m_handle, symbol) : nullptr;
}
