#pragma once

#include <csignal>

#include <sys/resource.h>

// While it lives, no file this process writes grows past `bytes`: a write
// beyond that fails with an error, as on a full disk (the file-size limit
// needs no privilege and no mount; SIGXFSZ is ignored so that the write
// fails instead of the process ending). Process-wide, so every thread's
// writes fail alike; the limits come back when it goes.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes = 0)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit full = m_limit;
        full.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &full);
    }
    ~FullDisk()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_limit);
        std::signal(SIGXFSZ, m_handler);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit m_limit {};
    void (*m_handler)(int) = nullptr;
};
