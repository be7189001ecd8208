#include "filesizelimit.h"

#ifdef Q_OS_UNIX
#include <signal.h>

FileSizeLimit::FileSizeLimit(rlim_t limit)
{
    m_handler = signal(SIGXFSZ, SIG_IGN);
    if (getrlimit(RLIMIT_FSIZE, &m_old) != 0 || limit > m_old.rlim_max)
        return;
    const rlimit lowered{limit, m_old.rlim_max};
    m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active)
        setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_handler);
}
#endif
